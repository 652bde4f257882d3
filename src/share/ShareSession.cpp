#include "ShareSession.h"

#include "ClipboardKeeper.h"
#include "DesktopNotifier.h"
#include "PelkinUploader.h"
#include "SharePanelAccessibility.h"
#include "ShareViewController.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThreadPool>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void forwardSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

QByteArray readStandardInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly)) {
        return {};
    }
    return input.readAll();
}

} // namespace

ShareSession::ShareSession(QList<ShareItemProvider> items, std::unique_ptr<PelkinUploader> uploader,
                           QObject *parent)
    : QObject(parent)
    , m_items(std::move(items))
    , m_uploader(std::move(uploader))
{}

ShareSession::~ShareSession()
{
    delete m_panel;
}

ShareViewController *ShareSession::panel() const
{
    return m_panel;
}

QString ShareSession::runFolder() const
{
    return m_runDir && m_runDir->isValid() ? m_runDir->path() : QString();
}

void ShareSession::start()
{
    m_runDir = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                               QStringLiteral("/pelkin-drop-share-XXXXXX"));
    m_panel = new ShareViewController(m_items, std::move(m_uploader), runFolder());
    m_panel->setWindowFlag(Qt::WindowStaysOnTopHint);
    m_panel->setFixedSize(ShareViewController::panelWidth, ShareViewController::panelHeight);
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen) {
        QRect frame = m_panel->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_panel->move(frame.topLeft());
    }

    SharePanelAccessibility::apply(m_panel);
    connect(m_panel, &ShareViewController::outcomeShown, this,
            [](const QString &message, const QString &link) {
                DesktopNotifier::notify(message, link);
            });
    connect(m_panel, &ShareViewController::requestCompleted, this, [this] { end(0); });
    connect(m_panel, &ShareViewController::requestCancelled, this, [this] { end(1); });
    connect(m_panel, &ShareViewController::workSettled, this, [this] {
        if (m_exitCode >= 0) {
            proceed();
        }
    });
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
}

void ShareSession::end(int exitCode)
{
    if (m_exitCode >= 0) {
        return;
    }
    m_exitCode = exitCode;
    m_panel->hide();
    proceed();
}

void ShareSession::proceed()
{
    if (m_keeping || (m_panel && m_panel->hasWorkInFlight())) {
        return;
    }
    m_keeping = true;
    // Nothing reads the local copies any more.
    m_runDir.reset();
    m_keeper = new ClipboardKeeper(this);
    connect(m_keeper, &ClipboardKeeper::released, this, [this] { emit finished(m_exitCode); });
    m_keeper->keepUntilReleased();
}

QList<ShareItemProvider> ShareSession::providersFromArguments(const QStringList &arguments)
{
    QList<ShareItemProvider> items;
    bool inputRead = false;
    for (const QString &argument : arguments) {
        items << ShareItemProvider::fromArgument(argument, [&inputRead] {
            // Standard input can be read only once; a second "-" is empty.
            if (inputRead) {
                return QByteArray();
            }
            inputRead = true;
            return readStandardInput();
        });
    }
    return items;
}

int ShareSession::main(int argc, char **argv, const UploaderFactory &makeUploader)
{
    // Every argument is a shared item, so Qt gets none of them to interpret
    // (a file named "-reverse" is a file, not a Qt option).
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QFile::decodeName(argv[i]);
    }
    static int qtArgc = 1;
    static char *qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setOrganizationName(QStringLiteral("Pelkin"));
    QApplication::setApplicationName(QStringLiteral("org.pelkin.PelkinDrop.Share"));
    QApplication::setApplicationDisplayName(QStringLiteral("Pelkin Drop"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.pelkin.PelkinDrop.Share"));
    QApplication::setQuitOnLastWindowClosed(false);

    ShareSession session(providersFromArguments(arguments), makeUploader());

    // Killed or interrupted: take the local copies away before going.
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &session, [&session] {
            char number = 0;
            [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &number, 1);
            session.m_runDir.reset();
            std::fflush(stdout);
            ::_exit(128 + number);
        });
        for (int number : {SIGINT, SIGTERM, SIGHUP}) {
            std::signal(number, forwardSignal);
        }
    }

    QObject::connect(&session, &ShareSession::finished, &application,
                     [](int code) { QCoreApplication::exit(code); });
    session.start();
    const int status = QApplication::exec();
    QThreadPool::globalInstance()->waitForDone();
    return status;
}
