#pragma once

#include "MultipartBody.h"
#include "UploadResult.h"

#include <QByteArray>
#include <QUrl>

#include <atomic>
#include <chrono>

// One POST of a streamed body with libcurl, run on the calling (worker)
// thread from start to end, and the mapping of its outcome to a result.
class UploadTransfer
{
public:
    struct Shared
    {
        std::atomic<qint64> bytesSent{0}; // body bytes handed to the connection
        std::atomic<bool> abort{false};   // set from outside: stop as soon as possible
    };

    UploadTransfer(QUrl endpoint, std::chrono::milliseconds idleTimeout, MultipartBody &body,
                   QByteArray boundary, Shared &shared);

    // Blocks until the exchange is over. When it was stopped through
    // Shared::abort, the result is meaningless and wasAborted() is true.
    UploadResult run();
    bool wasAborted() const { return m_aborted; }

    // Status code and body of a complete HTTP reply to a result.
    static UploadResult resultForReply(long status, const QByteArray &body);

private:
    static size_t readBody(char *buffer, size_t size, size_t count, void *self);
    static size_t writeReply(char *data, size_t size, size_t count, void *self);
    static int onProgress(void *self, long long downTotal, long long downNow, long long upTotal,
                          long long upNow);
    PlatformError platformError(int curlCode, const QString &detail) const;
    QString serverName() const;

    QUrl m_endpoint;
    std::chrono::milliseconds m_idleTimeout;
    MultipartBody &m_body;
    QByteArray m_boundary;
    Shared &m_shared;

    QByteArray m_reply;
    bool m_replyTooLarge = false;
    bool m_timedOut = false;
    bool m_aborted = false;
    long long m_lastUp = -1;
    long long m_lastDown = -1;
    std::chrono::steady_clock::time_point m_lastActivity;
};
