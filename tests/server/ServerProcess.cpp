#include "ServerProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryFile>
#include <QUrl>

ServerProcess::ServerProcess(QStringList extraArgs)
    : m_args(std::move(extraArgs))
{}

ServerProcess::~ServerProcess()
{
    stop();
}

QString ServerProcess::binary()
{
    return QStringLiteral(PELKIN_UPLOAD_SERVER);
}

bool ServerProcess::start()
{
    QStringList args{"--listen", "127.0.0.1:0", "--data", dataDir()};
    args += m_args;
    m_process.start(binary(), args);
    if (!m_process.waitForStarted(5000)) {
        return false;
    }
    QByteArray out;
    QDeadlineTimer deadline(10000);
    while (!out.contains('\n') && !deadline.hasExpired() &&
           m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        out += m_process.readAllStandardOutput();
    }
    const QByteArray line = out.left(out.indexOf('\n'));
    if (!line.startsWith("listening on ")) {
        return false;
    }
    m_url = QString::fromUtf8(line.mid(13));
    return true;
}

quint16 ServerProcess::port() const
{
    return quint16(QUrl(m_url).port());
}

int ServerProcess::waitForExit(int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning) {
        return m_process.exitCode();
    }
    m_process.terminate();
    // Uploads in progress get ten seconds after SIGTERM.
    if (!m_process.waitForFinished(15000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QByteArray ServerProcess::errorOutput()
{
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}

CurlResult runCurl(const QStringList &args, const QString &scratchDir)
{
    const QString bodyFile = scratchDir + "/curl-body";
    const QString headerFile = scratchDir + "/curl-headers";
    QFile::remove(bodyFile);
    QFile::remove(headerFile);
    QProcess curl;
    curl.start("curl", QStringList{"-sS", "--max-time", "30", "-o", bodyFile, "-D", headerFile,
                                   "-w", "%{http_code}"} +
                           args);
    CurlResult result;
    if (!curl.waitForFinished(40000)) {
        curl.kill();
        curl.waitForFinished(5000);
        return result;
    }
    result.exitCode = curl.exitCode();
    result.status = curl.readAllStandardOutput().trimmed().toInt();
    QFile body(bodyFile);
    if (body.open(QIODevice::ReadOnly)) {
        result.body = body.readAll();
    }
    QFile headers(headerFile);
    if (headers.open(QIODevice::ReadOnly)) {
        result.headers = headers.readAll();
    }
    return result;
}
