#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>

#include <unistd.h>

namespace {
const QByteArray reopenCommand = "reopen\n";
const QByteArray acknowledgement = "ok\n";
constexpr int connectTimeoutMs = 1000;
constexpr int replyTimeoutMs = 1000;
// A primary that neither answers nor lets go of the name (hung) must not keep
// a launch waiting for long.
constexpr int claimTimeoutMs = 3000;
constexpr qsizetype maxCommandLength = 64;
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent)
    : QObject(parent)
    , m_socketName(QStringLiteral("%1-%2").arg(name).arg(::getuid()))
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    return QStringLiteral("pelkin-drop");
}

bool SingleInstance::claim()
{
    if (m_server)
        return true;
    // Either we bind the name, or someone else has; a primary that has bound
    // but not yet started listening refuses connections, so try a few rounds.
    const QDeadlineTimer deadline(claimTimeoutMs);
    while (!deadline.hasExpired()) {
        auto *server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        if (server->listen(m_socketName)) {
            m_server = server;
            acceptConnections();
            return true;
        }
        delete server;
        if (askPrimaryToReopen())
            return false;
        QThread::msleep(50);
    }
    // Neither: give up on being single rather than refusing to start.
    qWarning("pelkin-drop: could not reach the running instance; starting anyway");
    return true;
}

bool SingleInstance::askPrimaryToReopen()
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    socket.write(reopenCommand);
    if (!socket.waitForBytesWritten(replyTimeoutMs))
        return false;
    QByteArray reply;
    QDeadlineTimer deadline(replyTimeoutMs);
    while (!reply.contains('\n') && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        reply += socket.readAll();
    }
    return reply == acknowledgement;
}

void SingleInstance::acceptConnections()
{
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    // Someone is sending garbage without a line end: hang up.
                    if (socket->bytesAvailable() > maxCommandLength)
                        socket->abort();
                    return;
                }
                const QByteArray line = socket->readLine(maxCommandLength);
                if (line == reopenCommand) {
                    socket->write(acknowledgement);
                    socket->flush();
                    emit reopenRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
}
