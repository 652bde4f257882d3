#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The upload client's own failures, each with its fixed Japanese message.
// Reachable as PelkinUploader::UploadError too.
class UploadError
{
public:
    enum class Kind {
        noFiles,           // the file list is empty
        allBlocked,        // every file is of a blocked kind (fileNames())
        cannotReadFile,    // not a regular file, or unreadable (fileName())
        totalSizeExceeded, // summed size above the limit (limit(), total())
        serverError,       // the service said why (serverMessage())
        httpStatus,        // non-2xx without a usable message (statusCode())
        invalidResponse,   // not an HTTP reply, or no body
    };

    static UploadError noFiles();
    static UploadError allBlocked(const QStringList &fileNames);
    static UploadError cannotReadFile(const QString &fileName);
    static UploadError totalSizeExceeded(qint64 limit, qint64 total);
    static UploadError serverError(const QString &message);
    static UploadError httpStatus(int statusCode);
    static UploadError invalidResponse();

    Kind kind() const { return m_kind; }
    QStringList fileNames() const { return m_names; }     // allBlocked
    QString fileName() const { return m_names.value(0); } // cannotReadFile
    qint64 limit() const { return m_limit; }              // totalSizeExceeded
    qint64 total() const { return m_total; }              // totalSizeExceeded
    QString serverMessage() const { return m_message; }   // serverError
    int statusCode() const { return m_status; }           // httpStatus

    // The user-visible message.
    QString errorDescription() const;

    // Byte count in megabytes below 1 GiB (at most one fraction digit),
    // gigabytes above (at most two), 1024-based, trailing zeros dropped:
    // 1073741824 gives "1 GB", 1610612736 "1.5 GB", 1572864 "1.5 MB".
    static QString formatBytes(qint64 bytes);

    bool operator==(const UploadError &) const = default;

private:
    explicit UploadError(Kind kind)
        : m_kind(kind)
    {}

    Kind m_kind;
    QStringList m_names;
    QString m_message;
    qint64 m_limit = 0;
    qint64 m_total = 0;
    int m_status = 0;
};
