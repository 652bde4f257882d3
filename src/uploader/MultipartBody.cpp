#include "MultipartBody.h"

#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray crlf = QByteArrayLiteral("\r\n");
}

MultipartBody::~MultipartBody()
{
    for (const Segment &segment : m_segments) {
        if (segment.fd >= 0)
            ::close(segment.fd);
    }
}

QByteArray MultipartBody::makeBoundary()
{
    return "Boundary-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
}

QByteArray MultipartBody::fieldName(qsizetype fileCount)
{
    return fileCount == 1 ? QByteArrayLiteral("file") : QByteArrayLiteral("files[]");
}

QByteArray MultipartBody::mimeType(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
    if (extension == u"jpg" || extension == u"jpeg")
        return "image/jpeg";
    if (extension == u"png")
        return "image/png";
    if (extension == u"gif")
        return "image/gif";
    if (extension == u"mp4")
        return "video/mp4";
    if (extension == u"mov")
        return "video/quicktime";
    if (extension == u"pdf")
        return "application/pdf";
    if (extension == u"zip")
        return "application/zip";
    return "application/octet-stream";
}

QByteArray MultipartBody::quotedFileName(const QByteArray &name)
{
    QByteArray out;
    out.reserve(name.size() + 2);
    for (const char c : name) {
        if (c == '"')
            out += "%22";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out += c;
    }
    return out;
}

std::variant<std::unique_ptr<MultipartBody>, UploadError>
MultipartBody::open(const QList<File> &files, const std::optional<QString> &password,
                    const QByteArray &boundary, qint64 sizeLimit)
{
    std::unique_ptr<MultipartBody> body(new MultipartBody);
    const QByteArray field = fieldName(files.size());
    const QByteArray delimiter = "--" + boundary + crlf;
    qint64 fileTotal = 0;

    for (const File &file : files) {
        const int fd = ::open(file.path.constData(), O_RDONLY | O_CLOEXEC);
        struct stat info
        {
        };
        if (fd < 0)
            return UploadError::cannotReadFile(file.fileName);
        // Own the descriptor before anything can return early.
        body->m_segments.push_back(Segment{{}, fd, 0, file.fileName});
        const size_t fileSegment = body->m_segments.size() - 1;
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
            return UploadError::cannotReadFile(file.fileName);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

        const QByteArray header = delimiter + "Content-Disposition: form-data; name=\"" + field +
                                  "\"; filename=\"" + quotedFileName(file.sentName) + "\"" + crlf +
                                  "Content-Type: " + mimeType(file.fileName) + crlf + crlf;
        Segment fileBytes = std::move(body->m_segments[fileSegment]);
        fileBytes.length = info.st_size;
        body->m_segments[fileSegment] = Segment{header, -1, header.size(), {}};
        body->m_segments.push_back(std::move(fileBytes));
        body->m_segments.push_back(Segment{crlf, -1, crlf.size(), {}});
        fileTotal += info.st_size;
    }
    // The screening counted sizes earlier; a file may have grown since.
    if (fileTotal > sizeLimit)
        return UploadError::totalSizeExceeded(sizeLimit, fileTotal);

    if (password && !password->isEmpty()) {
        const QByteArray part = delimiter + "Content-Disposition: form-data; name=\"password\"" +
                                crlf + crlf + password->toUtf8() + crlf;
        body->m_segments.push_back(Segment{part, -1, part.size(), {}});
    }
    const QByteArray closing = "--" + boundary + "--" + crlf;
    body->m_segments.push_back(Segment{closing, -1, closing.size(), {}});

    for (const Segment &segment : body->m_segments)
        body->m_size += segment.length;
    return body;
}

qint64 MultipartBody::read(char *buffer, qint64 capacity)
{
    if (m_failure)
        return -1;
    qint64 written = 0;
    while (written < capacity && m_current < m_segments.size()) {
        Segment &segment = m_segments[m_current];
        const qint64 wanted = std::min(capacity - written, segment.length - m_offset);
        if (segment.fd < 0) {
            std::memcpy(buffer + written, segment.bytes.constData() + m_offset,
                        static_cast<size_t>(wanted));
            written += wanted;
            m_offset += wanted;
        } else if (wanted > 0) {
            const ssize_t n = ::read(segment.fd, buffer + written, static_cast<size_t>(wanted));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // Shrunk (end of file too early) or a read error: the body
                // cannot be completed as announced, so the upload fails.
                m_failure = UploadError::cannotReadFile(segment.fileName);
                return -1;
            }
            written += n;
            m_offset += n;
        }
        if (m_offset == segment.length) {
            if (segment.fd >= 0) {
                ::close(segment.fd);
                segment.fd = -1;
            }
            ++m_current;
            m_offset = 0;
        }
    }
    return written;
}
