#include "PipeReader.h"

#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr qsizetype maxBytes = 16 * 1024 * 1024;
}

PipeReader::PipeReader(int fd, int timeoutMs, Done done, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
    , m_done(std::move(done))
    , m_notifier(fd, QSocketNotifier::Read, this)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    connect(&m_notifier, &QSocketNotifier::activated, this, &PipeReader::readSome);
    QTimer::singleShot(timeoutMs, this, [this] { finish(false); });
}

PipeReader::~PipeReader()
{
    ::close(m_fd);
}

void PipeReader::readSome()
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            m_data.append(chunk, n);
            if (m_data.size() > maxBytes)
                return finish(false);
            continue;
        }
        if (n == 0)
            return finish(true);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            finish(false);
        return;
    }
}

void PipeReader::finish(bool ok)
{
    if (!m_done)
        return;
    m_notifier.setEnabled(false);
    auto done = std::exchange(m_done, {});
    deleteLater();
    done(ok, m_data);
}
