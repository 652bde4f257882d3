#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// A plain TCP connection to 127.0.0.1 for sending requests byte by byte, the way no HTTP client
// library would: split, dripped, half-closed, malformed.
class RawConnection
{
public:
    RawConnection() = default;
    ~RawConnection() { close(); }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    // Blocking connect (bounded), then non-blocking with Nagle off.
    bool connectTo(quint16 port, int timeoutMs = 5000);
    // Sends everything (bounded wait for room).
    bool send(const QByteArray &bytes, int timeoutMs = 5000);
    void shutdownWrite();
    // Reads until the server closes or the time is up.
    QByteArray readUntilClosed(int timeoutMs);
    // True once the server has closed (reads what is pending without waiting).
    bool closedByPeer() { return readUntilClosed(0), m_peerClosed; }
    void close();

private:
    int m_fd = -1;
    bool m_peerClosed = false;
};

// An HTTP reply as received; interim (1xx) replies before it are skipped.
struct RawReply
{
    int status = 0;
    QByteArray headers;
    QByteArray body;

    // The value of the first header line of that name (case-insensitive).
    QByteArray header(const QByteArray &name) const;
    static RawReply parse(const QByteArray &bytes);
};

// A multipart body (boundary B0undary) with one "file" part per name and content.
QByteArray multipart(const QList<QPair<QByteArray, QByteArray>> &files);
// POST /api/upload.php of a B0undary body with these framing headers.
QByteArray uploadRequest(const QByteArray &framing, const QByteArray &body);
// The same, framed by its Content-Length.
QByteArray uploadRequest(const QByteArray &body);
// A kB figure of /proc/PID/status ("VmRSS", "VmHWM"), or -1.
qint64 processKb(qint64 pid, const char *field);
