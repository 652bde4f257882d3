#include "RawConnection.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

void RawConnection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawConnection::connectTo(quint16 port, int timeoutMs)
{
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int yes = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return true;
    pollfd p{m_fd, POLLOUT, 0};
    if (errno != EINPROGRESS || ::poll(&p, 1, timeoutMs) != 1)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length);
    return error == 0;
}

bool RawConnection::send(const QByteArray &bytes, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        pollfd p{m_fd, POLLOUT, 0};
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || deadline.hasExpired() ||
            ::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) < 0)
            return false;
    }
    return true;
}

void RawConnection::shutdownWrite()
{
    ::shutdown(m_fd, SHUT_WR);
}

QByteArray RawConnection::readUntilClosed(int timeoutMs)
{
    QByteArray out;
    const QDeadlineTimer deadline(timeoutMs);
    char buffer[65536];
    // Goes on past the deadline while bytes are pending, so that a reply and the close after
    // it are both seen.
    for (bool pending = true; !m_peerClosed && (pending || !deadline.hasExpired());) {
        pollfd p{m_fd, POLLIN, 0};
        if (!(pending = ::poll(&p, 1, int(deadline.remainingTime())) > 0))
            continue;
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0)
            out.append(buffer, n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            m_peerClosed = true;
    }
    return out;
}

QByteArray RawReply::header(const QByteArray &name) const
{
    for (const QByteArray &line : headers.split('\n'))
        if (line.toLower().startsWith(name.toLower() + ":"))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

RawReply RawReply::parse(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (!bytes.startsWith("HTTP/1.") || end < 0)
        return {};
    if (bytes.at(9) == '1')
        return parse(bytes.mid(end + 4));
    return {bytes.mid(9, 3).toInt(), bytes.left(end + 2), bytes.mid(end + 4)};
}

QByteArray multipart(const QList<QPair<QByteArray, QByteArray>> &files)
{
    QByteArray body;
    for (const auto &[name, content] : files)
        body += "--B0undary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name +
                "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
    return body + "--B0undary--\r\n";
}

QByteArray uploadRequest(const QByteArray &framing, const QByteArray &body)
{
    return "POST /api/upload.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: multipart/form-data; boundary=B0undary\r\n" + framing + "\r\n" + body;
}

QByteArray uploadRequest(const QByteArray &body)
{
    return uploadRequest("Content-Length: " + QByteArray::number(body.size()) + "\r\n", body);
}

qint64 processKb(qint64 pid, const char *field)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    const auto match = QRegularExpression(QString(field) + ":\\s+(\\d+) kB")
                           .match(status.open(QIODevice::ReadOnly) ? status.readAll() : "");
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}
