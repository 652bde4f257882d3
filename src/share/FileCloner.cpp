#include "FileCloner.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd;
};

QString systemError(const QString &what, const QString &path, int code)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(code)));
}

bool isAbandoned(const std::atomic<bool> *abandoned)
{
    return abandoned && abandoned->load();
}

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Copies from the current offsets to the end of `in` (or `limit` bytes).
// Returns 0 on success, else the errno of the failure (ECANCELED when abandoned).
int copyBytes(int in, int out, bool regular, qint64 limit, const std::atomic<bool> *abandoned)
{
    constexpr size_t chunk = 8 * 1024 * 1024;
    bool kernelCopy = regular;
    qint64 copied = 0;
    while (kernelCopy) {
        if (isAbandoned(abandoned)) {
            return ECANCELED;
        }
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (n == 0) {
            return 0;
        }
        if (n > 0) {
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF) {
            return errno;
        }
        kernelCopy = false; // not supported here: go on with plain reads and writes
    }
    static thread_local char buffer[256 * 1024];
    while (true) {
        if (isAbandoned(abandoned)) {
            return ECANCELED;
        }
        const qint64 room = limit - copied;
        if (room <= 0) {
            return 0;
        }
        const ssize_t n = ::read(in, buffer, size_t(std::min<qint64>(room, sizeof buffer)));
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                // A stream with nothing yet: wait a little, then look at abandoned again.
                pollfd readable = {in, POLLIN, 0};
                ::poll(&readable, 1, 100);
                continue;
            }
            return errno;
        }
        if (!writeAll(out, buffer, n)) {
            return errno;
        }
        copied += n;
    }
}

} // namespace

bool FileCloner::cloneOrCopy(const QString &source, const QString &destination,
                             const std::atomic<bool> *abandoned, QString *error, Method *method)
{
    const QByteArray src = QFile::encodeName(source);
    const QByteArray dst = QFile::encodeName(destination);
    auto fail = [&](const QString &message) {
        if (error) {
            *error = message;
        }
        return false;
    };

    // Non-blocking, so a pipe without a writer cannot hold the open for ever.
    FileDescriptor in(::open(src.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0) {
        return fail(systemError(QStringLiteral("cannot open"), source, errno));
    }
    struct stat info = {};
    if (::fstat(in.get(), &info) != 0) {
        return fail(systemError(QStringLiteral("cannot inspect"), source, errno));
    }
    if (S_ISDIR(info.st_mode)) {
        if (::mkdir(dst.constData(), 0700) != 0) {
            return fail(systemError(QStringLiteral("cannot create"), destination, errno));
        }
        if (method) {
            *method = Method::folder;
        }
        return true;
    }
    const bool regular = S_ISREG(info.st_mode);
    if (regular) {
        ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
    }

    FileDescriptor out(::open(dst.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        return fail(systemError(QStringLiteral("cannot create"), destination, errno));
    }
    if (regular) {
        // A clone is a private snapshot: later edits of the original do not reach it.
        if (::ioctl(out.get(), FICLONE, in.get()) == 0) {
            if (method) {
                *method = Method::reflink;
            }
            return true;
        }
        out.reset();
        ::unlink(dst.constData());
        if (::linkat(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), AT_SYMLINK_FOLLOW) ==
            0) {
            if (method) {
                *method = Method::hardLink;
            }
            return true;
        }
        out.reset(::open(dst.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.get() < 0) {
            return fail(systemError(QStringLiteral("cannot create"), destination, errno));
        }
    }
    const qint64 limit = regular ? std::numeric_limits<qint64>::max() : streamCopyLimit;
    const int code = copyBytes(in.get(), out.get(), regular, limit, abandoned);
    const int closeCode = ::close(out.release()) == 0 ? 0 : errno;
    if (code != 0 || closeCode != 0) {
        ::unlink(dst.constData());
        const int reason = code != 0 ? code : closeCode;
        if (reason == ECANCELED) {
            return fail(QStringLiteral("copy of %1 abandoned").arg(source));
        }
        return fail(systemError(QStringLiteral("cannot copy"), source, reason));
    }
    if (method) {
        *method = Method::byteCopy;
    }
    return true;
}
