#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real pelkin-upload-server on 127.0.0.1 with a port of its own choosing and a
// fresh data folder.
class ServerProcess
{
public:
    explicit ServerProcess(QStringList extraArgs = {});
    ~ServerProcess();

    // Starts the server and waits (bounded) for its "listening on" line.
    bool start();
    // SIGTERM, then waits (bounded, longer than the service's grace period).
    int stop();
    // SIGTERM without waiting.
    void terminate() { m_process.terminate(); }
    // The exit code once it has ended within timeoutMs, else -1.
    int waitForExit(int timeoutMs);

    QString url() const { return m_url; }
    quint16 port() const;
    QString dataDir() const { return m_dir.path() + "/data"; }
    QString scratchDir() const { return m_dir.path(); }
    qint64 pid() const { return m_process.processId(); }
    QByteArray errorOutput();

    static QString binary();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QStringList m_args;
    QString m_url;
    QByteArray m_stderr;
};

struct CurlResult
{
    int status = 0;
    QByteArray body;
    QByteArray headers;
    int exitCode = -1;
};

// Runs curl with the arguments, keeping the reply body and headers.
CurlResult runCurl(const QStringList &args, const QString &scratchDir);
