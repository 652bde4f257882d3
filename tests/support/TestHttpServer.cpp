#include "TestHttpServer.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>

QByteArray TestHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

namespace {

struct ServerState
{
    using Reply = TestHttpServer::Reply;
    // Guarded by mutex; read by the test thread, written by the server thread.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::deque<Reply> script;
    Reply defaultReply = TestHttpServer::json(200, R"({"success":true})");
    QList<TestHttpServer::Request> requests;
    int finished = 0;
    std::atomic<int> connections = 0;
    qint64 captureLimit = 16 * 1024 * 1024;

    QThread thread;
    QObject *anchor = nullptr;    // lives on thread; target of calls into it
    QTcpServer *server = nullptr; // lives on thread
    quint16 port = 0;
    bool tls = false;
};

// One connection, one request: reads the head, then the body, answers.
class Connection : public QObject
{
public:
    Connection(ServerState &server, QTcpSocket *socket)
        : QObject(socket)
        , m_server(server)
        , m_socket(socket)
    {
        // A bounded buffer lets "stop reading" push back on the client.
        m_socket->setReadBufferSize(256 * 1024);
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { onReadable(); });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(m_socket, &QTcpSocket::disconnected, m_socket, &QObject::deleteLater);
        onReadable();
    }

private:
    void onReadable()
    {
        if (m_index < 0) {
            m_head += m_socket->read(64 * 1024 - m_head.size());
            const qsizetype end = m_head.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_head.size() >= 64 * 1024)
                    m_socket->abort();
                return;
            }
            QByteArray rest = m_head.mid(end + 4);
            m_head.truncate(end + 4);
            startRequest();
            consumeBody(rest);
        }
        const qint64 limit = m_reply.stopReadingAfter >= 0 ? m_reply.stopReadingAfter
                                                           : std::numeric_limits<qint64>::max();
        while (m_index >= 0 && m_received < limit && m_socket->bytesAvailable() > 0)
            consumeBody(m_socket->read(std::min(m_socket->bytesAvailable(), limit - m_received)));
    }

    void startRequest()
    {
        TestHttpServer::Request request;
        const QList<QByteArray> lines = m_head.left(m_head.size() - 4).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append(qMakePair(line.left(colon), line.mid(colon + 1).trimmed()));
        }
        m_length = request.header("content-length").toLongLong(); // 0 if none

        std::lock_guard lock(m_server.mutex);
        m_reply = m_server.script.empty() ? m_server.defaultReply : m_server.script.front();
        if (!m_server.script.empty())
            m_server.script.pop_front();
        m_server.requests.append(request);
        m_index = m_server.requests.size() - 1;
        m_server.changed.notify_all();
        if (m_reply.answerBeforeBody) {
            m_answerScheduled = true;
            QTimer::singleShot(m_reply.delay, this, [this] { answer(); });
        }
    }

    void consumeBody(const QByteArray &bytes)
    {
        if (bytes.isEmpty() && m_received < m_length)
            return;
        m_received += bytes.size();
        {
            std::lock_guard lock(m_server.mutex);
            TestHttpServer::Request &request = m_server.requests[m_index];
            const qint64 room = m_server.captureLimit - request.body.size();
            if (room > 0)
                request.body += bytes.left(room);
            request.bodySize = m_received;
            request.complete = m_received >= m_length;
        }
        if (m_received >= m_length && !std::exchange(m_answerScheduled, true) && !m_reply.neverAnswer)
            QTimer::singleShot(m_reply.delay, this, [this] { answer(); });
    }

    void answer()
    {
        QByteArray out;
        if (!m_reply.raw.isEmpty()) {
            out = m_reply.raw;
        } else {
            // The client under test reads only the status code, not the phrase.
            out = "HTTP/1.1 " + QByteArray::number(m_reply.status) + " Scripted\r\n";
            bool hasLength = false;
            for (const auto &[key, value] : m_reply.headers) {
                hasLength |= key.compare("content-length", Qt::CaseInsensitive) == 0;
                out += key + ": " + value + "\r\n";
            }
            if (!hasLength)
                out += "Content-Length: " + QByteArray::number(m_reply.body.size()) + "\r\n";
            out += "Connection: close\r\n\r\n";
            out += m_reply.closeAfterBodyBytes >= 0 ? m_reply.body.left(m_reply.closeAfterBodyBytes)
                                                    : m_reply.body;
        }
        m_socket->write(out);
        // Closing while the client still sends would reset the connection and could swallow an
        // early answer: the client closes then.
        if (!m_reply.answerBeforeBody)
            m_socket->disconnectFromHost(); // after the bytes are out
        finish();
    }

    void finish()
    {
        if (m_finished || m_index < 0)
            return;
        m_finished = true;
        std::lock_guard lock(m_server.mutex);
        ++m_server.finished;
        m_server.changed.notify_all();
    }

    ServerState &m_server;
    QTcpSocket *m_socket;
    QByteArray m_head;
    qsizetype m_index = -1;
    qint64 m_length = 0;
    qint64 m_received = 0;
    TestHttpServer::Reply m_reply;
    bool m_answerScheduled = false;
    bool m_finished = false;
};

} // namespace

struct TestHttpServer::Private : ServerState
{
};

TestHttpServer::TestHttpServer(const QString &certificatePem, const QString &privateKeyPem)
    : d(std::make_unique<Private>())
{
    d->tls = !certificatePem.isEmpty();
    d->thread.setObjectName(QStringLiteral("TestHttpServer"));
    d->thread.start();
    auto setUp = [this, certificatePem, privateKeyPem] {
        if (d->tls) {
            auto *ssl = new QSslServer;
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            config.setLocalCertificateChain(QSslCertificate::fromPath(certificatePem));
            QFile key(privateKeyPem);
            if (key.open(QIODevice::ReadOnly))
                config.setPrivateKey(QSslKey(&key, QSsl::Ec)); // TestFiles makes EC keys
            config.setPeerVerifyMode(QSslSocket::VerifyNone);
            ssl->setSslConfiguration(config);
            d->server = ssl;
        } else {
            d->server = new QTcpServer;
        }
        QObject::connect(d->server, &QTcpServer::newConnection, d->server, [this] {
            while (QTcpSocket *socket = d->server->nextPendingConnection()) {
                ++d->connections;
                new Connection(*d, socket);
            }
        });
        d->server->listen(QHostAddress::LocalHost, 0);
        d->port = d->server->serverPort();
    };
    d->anchor = new QObject;
    d->anchor->moveToThread(&d->thread);
    QMetaObject::invokeMethod(d->anchor, setUp, Qt::BlockingQueuedConnection);
}

TestHttpServer::~TestHttpServer()
{
    // Sockets are children of the server; deleting it on its thread closes them all.
    QMetaObject::invokeMethod(d->anchor, [this] { delete d->server; }, Qt::BlockingQueuedConnection);
    d->thread.quit();
    d->thread.wait();
    delete d->anchor; // its thread has ended
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(d->tls ? "https" : "http").arg(d->port).arg(path));
}

void TestHttpServer::enqueue(const Reply &reply)
{
    std::lock_guard lock(d->mutex);
    d->script.push_back(reply);
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

int TestHttpServer::requestCount() const
{
    std::lock_guard lock(d->mutex);
    return static_cast<int>(d->requests.size());
}

int TestHttpServer::connectionCount() const
{
    return d->connections;
}

bool TestHttpServer::waitForRequests(int n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, timeout, [this, n] { return d->finished >= n; });
}

void TestHttpServer::setBodyCaptureLimit(qint64 bytes)
{
    std::lock_guard lock(d->mutex);
    d->captureLimit = bytes;
}

TestHttpServer::Reply TestHttpServer::json(int status, const QByteArray &body)
{
    Reply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", "application/json"}};
    reply.body = body;
    return reply;
}
