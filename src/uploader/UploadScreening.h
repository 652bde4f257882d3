#pragma once

#include "MultipartBody.h"
#include "UploadResult.h"

#include <QList>
#include <QUrl>

#include <variant>

// What happens on the caller's thread before anything is read or sent:
// blocked names are dropped, then every remaining file must be a regular
// file, and the summed size may not exceed the limit. Only attributes are
// looked at; no file content is read.
class UploadScreening
{
public:
    // The files to send, in the given order, or the error to report.
    static std::variant<QList<MultipartBody::File>, UploadResult> screen(const QList<QUrl> &files,
                                                                         qint64 sizeLimit);

    // ".app" and ".photoslibrary" names, in any case; only the name counts.
    static bool isBlacklisted(const QUrl &file);
    // The last path component, also for a folder URL with a trailing slash.
    static QString lastPathComponent(const QUrl &file);
    // A local file URL's path as the file system's bytes. Unlike
    // toLocalFile(), keeps names that are not valid UTF-8 (%FF in the URL).
    static QByteArray nativePath(const QUrl &file);
};
