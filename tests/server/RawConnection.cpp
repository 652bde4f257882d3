#include "RawConnection.h"

#include <QDeadlineTimer>
#include <QList>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

RawConnection::~RawConnection()
{
    close();
}

void RawConnection::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool RawConnection::connectTo(quint16 port, int timeoutMs)
{
    close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        return false;
    }
    int yes = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        return false;
    }
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, timeoutMs) != 1) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length);
    return error == 0;
}

bool RawConnection::send(const QByteArray &bytes, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent),
                                 MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd p{m_fd, POLLOUT, 0};
        if (deadline.hasExpired() ||
            ::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) < 0) {
            return false;
        }
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
    QDeadlineTimer deadline(timeoutMs);
    char buffer[65536];
    while (!m_peerClosed && !deadline.hasExpired()) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            out.append(buffer, n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            m_peerClosed = true;
        }
    }
    return out;
}

bool RawConnection::closedByPeer()
{
    char buffer[4096];
    while (!m_peerClosed) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            m_peerClosed = true;
        } else if (n < 0) {
            break;
        }
    }
    return m_peerClosed;
}

RawReply RawReply::parse(const QByteArray &bytes)
{
    RawReply reply;
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (!bytes.startsWith("HTTP/1.") || end < 0) {
        return reply;
    }
    reply.headers = bytes.left(end + 2);
    reply.body = bytes.mid(end + 4);
    reply.status = bytes.mid(9, 3).toInt();
    return reply;
}

QByteArray RawReply::header(const QByteArray &name) const
{
    for (const QByteArray &line : headers.split('\n')) {
        if (line.toLower().startsWith(name.toLower() + ":")) {
            return line.mid(name.size() + 1).trimmed();
        }
    }
    return {};
}
