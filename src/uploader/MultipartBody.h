#pragma once

#include "UploadError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <variant>
#include <vector>

// The multipart/form-data request body, streamed from the files instead of
// being assembled in memory. Every file is opened up front, so the total
// length (the Content-Length) is known before the first byte goes out.
class MultipartBody
{
public:
    struct File
    {
        QByteArray path;     // local path, the file system's own bytes
        QByteArray sentName; // its last component, as sent in the part header
        QString fileName;    // the same for messages (invalid UTF-8 replaced)
    };

    ~MultipartBody();
    MultipartBody(const MultipartBody &) = delete;
    MultipartBody &operator=(const MultipartBody &) = delete;

    // Opens every file. A file that cannot be opened, or is no longer a
    // regular file, gives cannotReadFile with its name; a total that has grown
    // past sizeLimit gives totalSizeExceeded. password: a part only when
    // present and not empty.
    static std::variant<std::unique_ptr<MultipartBody>, UploadError>
    open(const QList<File> &files, const std::optional<QString> &password,
         const QByteArray &boundary, qint64 sizeLimit);

    qint64 size() const { return m_size; }

    // Copies the next bytes into buffer. Returns the count (0 at the end), or
    // -1 when a file shrank or could not be read (see failure()). The stream
    // never delivers more or fewer bytes than size().
    qint64 read(char *buffer, qint64 capacity);
    std::optional<UploadError> failure() const { return m_failure; }

    // "Boundary-" and an upper-case UUID, new on every call.
    static QByteArray makeBoundary();
    // "file" for one file, "files[]" for several.
    static QByteArray fieldName(qsizetype fileCount);
    // By the lower-cased extension; application/octet-stream otherwise.
    static QByteArray mimeType(const QString &fileName);
    // The name's bytes with '"', CR and LF percent-encoded so a name cannot
    // end the header line or the quoted string.
    static QByteArray quotedFileName(const QByteArray &name);

private:
    struct Segment
    {
        QByteArray bytes; // literal text, or empty for a file
        int fd = -1;
        qint64 length = 0;
        QString fileName;
    };

    MultipartBody() = default;

    std::vector<Segment> m_segments;
    qint64 m_size = 0;
    size_t m_current = 0;
    qint64 m_offset = 0; // within the current segment
    std::optional<UploadError> m_failure;
};
