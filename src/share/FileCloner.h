#pragma once

#include "PelkinUploader.h"

#include <QString>
#include <QtGlobal>

#include <atomic>

// Gives a file a second name in another folder as cheaply as the file
// system allows: a copy-on-write clone (reflink), else a hard link, else a
// byte copy done by the kernel where it can.
class FileCloner
{
public:
    enum class Method { reflink, hardLink, byteCopy, folder };

    // Streams (pipes, devices) are copied up to this many bytes: one byte
    // over the upload limit, enough for the upload to refuse an endless one.
    static constexpr qint64 streamCopyLimit = PelkinUploader::maxUploadBytes + 1;

    // Makes `destination` (which must not exist) hold the content of
    // `source`. A folder becomes an empty folder of its own: the upload
    // refuses folders by name and never reads their content. Stops early,
    // removing the partial copy, once *abandoned turns true.
    // Returns false and sets *error (English, for diagnostics) on failure.
    static bool cloneOrCopy(const QString &source, const QString &destination,
                            const std::atomic<bool> *abandoned, QString *error,
                            Method *method = nullptr);
};
