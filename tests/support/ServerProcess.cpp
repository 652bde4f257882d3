#include "ServerProcess.h"

#include <QDeadlineTimer>
#include <QDirIterator>

bool ServerProcess::start()
{
    m_process.start(binary(), QStringList{"--listen", "127.0.0.1:0", "--data", dataDir()} + m_args);
    QByteArray out;
    const QDeadlineTimer deadline(10000);
    while (!out.contains('\n') && !deadline.hasExpired() && m_process.waitForStarted(5000)) {
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        out += m_process.readAllStandardOutput();
    }
    if (!out.startsWith("listening on ") || !out.contains('\n'))
        return false;
    m_url = QString::fromUtf8(out.mid(13, out.indexOf('\n') - 13));
    return true;
}

bool ServerProcess::stores(const QByteArray &content) const
{
    for (QDirIterator it(dataDir(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        if (file.size() == content.size() && file.open(QIODevice::ReadOnly) && file.readAll() == content)
            return true;
    }
    return false;
}

int ServerProcess::waitForExit(int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate();
    // Uploads in progress get ten seconds after SIGTERM.
    const int code = waitForExit(15000);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    return code;
}
