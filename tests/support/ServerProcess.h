#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// A real pelkin-upload-server on 127.0.0.1, on a port of its own choosing, with a fresh data
// folder; stopped (SIGTERM, bounded) when destroyed.
class ServerProcess
{
public:
    explicit ServerProcess(QStringList extraArgs = {}) : m_args(std::move(extraArgs)) {}
    ~ServerProcess() { stop(); }

    // Starts the service and waits (bounded) for its "listening on" line.
    bool start();
    // SIGTERM, then waits longer than the service's grace period; the exit code, or -1.
    int stop();
    void terminate() { m_process.terminate(); }
    // The exit code once it has ended within timeoutMs, else -1.
    int waitForExit(int timeoutMs);

    // The base URL, e.g. "http://127.0.0.1:40123".
    QString url() const { return m_url; }
    quint16 port() const { return quint16(QUrl(m_url).port()); }
    QString dataDir() const { return m_dir.path() + "/data"; }
    // Whether a file under dataDir() holds exactly these bytes.
    bool stores(const QByteArray &content) const;
    QString scratchDir() const { return m_dir.path(); }
    qint64 pid() const { return m_process.processId(); }
    // Everything the service has logged so far.
    QByteArray errorOutput() { return m_stderr += m_process.readAllStandardError(); }

    static QString binary() { return QStringLiteral(PELKIN_UPLOAD_SERVER); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_args;
    QString m_url;
    QByteArray m_stderr;
};
