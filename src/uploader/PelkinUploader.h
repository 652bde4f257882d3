#pragma once

#include "PlatformError.h"
#include "UploadError.h"
#include "UploadResponse.h"
#include "UploadResult.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The upload client: screens the files, sends them in one multipart POST to
// the upload endpoint and reports progress and exactly one result.
//
// Threads: create, use and destroy the uploader on the main (GUI) thread; a
// QCoreApplication must exist. Each upload runs on a worker thread of its own.
//  - completion is called exactly once per upload() call, on any thread:
//    synchronously inside upload() for screening failures, otherwise on the
//    upload's worker thread. Move to the main thread before touching UI state.
//  - progress is called only on the main thread: 0.0 first, then every 80 ms
//    the fraction of the body sent (0.0 to 1.0), until the upload ends.
//    Without a progress callback no timer runs. Since completion runs on
//    another thread, one progress call may still arrive after it.
//
// Destroying the uploader while uploads run stops their progress calls at
// once; the transfers go on and each completion is still called exactly once.
class PelkinUploader
{
public:
    using UploadError = ::UploadError;
    using ProgressHandler = std::function<void(double)>;
    using CompletionHandler = std::function<void(UploadResult)>;

    // The summed size of one upload may not exceed 1 GiB.
    static constexpr qint64 maxUploadBytes = 1073741824;
    static constexpr std::chrono::milliseconds defaultIdleTimeout{60000};

    // The endpoint built into the program, 60 s idle time-out.
    PelkinUploader();
    // For tests: another endpoint and a shorter idle time-out. The upload
    // fails when no byte has moved for idleTimeout (connecting, sending, or
    // waiting for the reply).
    PelkinUploader(QUrl endpoint, std::chrono::milliseconds idleTimeout);
    ~PelkinUploader();

    PelkinUploader(const PelkinUploader &) = delete;
    PelkinUploader &operator=(const PelkinUploader &) = delete;

    // files: local file URLs. password: sent only when present and not
    // empty. progress may be empty. Returns at once.
    void upload(const QList<QUrl> &files, const std::optional<QString> &password,
                ProgressHandler progress, CompletionHandler completion);

    QUrl endpoint() const;
    std::chrono::milliseconds idleTimeout() const;

    // A name ending in ".app" or ".photoslibrary" (any case) is never uploaded.
    static bool isBlacklisted(const QUrl &file);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
