#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// The upload service's JSON reply. Each field is the JSON key of the same
// meaning ("download_url" is downloadUrl and so on). A key that is absent or
// null gives an empty optional.
struct UploadResponse
{
    bool success = false;
    std::optional<QString> id;
    std::optional<QString> url;
    std::optional<QString> downloadUrl;
    std::optional<QString> expiresAt;
    std::optional<qint64> expiresIn;
    std::optional<qint64> sizeBytes;
    std::optional<qint64> fileCount;
    std::optional<QStringList> originalNames;
    std::optional<bool> passwordProtected;
    std::optional<QString> error;

    // Strict decoding of a reply body: the body must be one JSON object
    // (valid UTF-8, no NUL byte) whose "success" is present and a boolean.
    // Every other known key must have its type or be null; a wrong type
    // anywhere fails the whole decoding, even for fields nobody reads.
    // Integers must be exact signed 64-bit values (no fraction, no string,
    // nothing out of range). Unknown keys are ignored.
    // On failure returns nullopt and, if given, sets *problem to a short
    // technical (English) reason for logs and tests.
    static std::optional<UploadResponse> decode(const QByteArray &body, QString *problem = nullptr);

    bool operator==(const UploadResponse &) const = default;
};
