#include "UploadTransfer.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>

namespace {
// A reply is a small JSON document; anything this big is not one.
constexpr qsizetype maxReplyBytes = 8 * 1024 * 1024;
// Bigger than libcurl's 64 KiB default: fewer read calls and send() calls
// for large files, at a fixed 1 MiB per running upload.
constexpr long uploadBufferBytes = 1024 * 1024;

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
} // namespace

UploadTransfer::UploadTransfer(QUrl endpoint, std::chrono::milliseconds idleTimeout,
                               MultipartBody &body, QByteArray boundary, Shared &shared)
    : m_endpoint(std::move(endpoint))
    , m_idleTimeout(idleTimeout)
    , m_body(body)
    , m_boundary(std::move(boundary))
    , m_shared(shared)
{}

size_t UploadTransfer::readBody(char *buffer, size_t size, size_t count, void *self)
{
    auto *t = static_cast<UploadTransfer *>(self);
    if (t->m_shared.abort.load())
        return CURL_READFUNC_ABORT;
    const qint64 n = t->m_body.read(buffer, static_cast<qint64>(size * count));
    if (n < 0)
        return CURL_READFUNC_ABORT;
    return static_cast<size_t>(n);
}

size_t UploadTransfer::writeReply(char *data, size_t size, size_t count, void *self)
{
    auto *t = static_cast<UploadTransfer *>(self);
    const size_t n = size * count;
    if (t->m_reply.size() + static_cast<qsizetype>(n) > maxReplyBytes) {
        t->m_replyTooLarge = true;
        return 0; // makes libcurl stop with a write error
    }
    t->m_reply.append(data, static_cast<qsizetype>(n));
    return n;
}

// libcurl calls this often while bytes move and about once a second while
// idle; that second is the resolution of the idle time-out.
int UploadTransfer::onProgress(void *self, long long, long long downNow, long long, long long upNow)
{
    auto *t = static_cast<UploadTransfer *>(self);
    if (t->m_shared.abort.load())
        return 1;
    const auto now = std::chrono::steady_clock::now();
    if (upNow != t->m_lastUp || downNow != t->m_lastDown) {
        t->m_lastUp = upNow;
        t->m_lastDown = downNow;
        t->m_lastActivity = now;
        if (upNow > 0)
            t->m_shared.bytesSent.store(upNow);
    } else if (now - t->m_lastActivity >= t->m_idleTimeout) {
        t->m_timedOut = true;
        return 1;
    }
    return 0;
}

QString UploadTransfer::serverName() const
{
    QString name = m_endpoint.host();
    if (name.contains(QLatin1Char(':')))
        name = QLatin1Char('[') + name + QLatin1Char(']');
    if (m_endpoint.port() != -1)
        name += QLatin1Char(':') + QString::number(m_endpoint.port());
    return name;
}

PlatformError UploadTransfer::platformError(int curlCode, const QString &detail) const
{
    using Kind = PlatformError::Kind;
    const QString server = serverName();
    switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return {Kind::hostLookup,
                QStringLiteral(
                    "サーバー「%1」が見つかりませんでした。ネットワーク接続を確認してください。")
                    .arg(server),
                detail};
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {Kind::hostLookup,
                QStringLiteral(
                    "プロキシサーバーが見つかりませんでした。ネットワーク設定を確認してください。"),
                detail};
    case CURLE_COULDNT_CONNECT:
        return {
            Kind::connection,
            QStringLiteral(
                "サーバー「%1」に接続できませんでした。しばらくしてからもう一度お試しください。")
                .arg(server),
            detail};
    case CURLE_OPERATION_TIMEDOUT:
        return {Kind::timedOut,
                QStringLiteral("サーバー「%1」との通信がタイムアウトしました。").arg(server),
                detail};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
        return {
            Kind::tls,
            QStringLiteral(
                "サーバー「%1」と安全に接続できませんでした。サーバーの証明書を確認できません。")
                .arg(server),
            detail};
    case CURLE_GOT_NOTHING:
        return {Kind::transfer,
                QStringLiteral("サーバー「%1」が応答せずに接続を切りました。").arg(server), detail};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return {Kind::transfer,
                QStringLiteral("サーバー「%1」との通信が途中で切れました。").arg(server), detail};
    default:
        return {Kind::internal,
                QStringLiteral("アップロード中にエラーが発生しました（コード %1）。").arg(curlCode),
                detail};
    }
}

UploadResult UploadTransfer::resultForReply(long status, const QByteArray &body)
{
    if (status < 200 || status > 299) {
        // A service message counts only in a reply that decodes completely.
        const auto decoded = UploadResponse::decode(body);
        if (decoded && decoded->error)
            return UploadError::serverError(*decoded->error);
        return UploadError::httpStatus(static_cast<int>(status));
    }
    if (body.isEmpty())
        return UploadError::invalidResponse();
    QString problem;
    const auto decoded = UploadResponse::decode(body, &problem);
    if (!decoded)
        return PlatformError(PlatformError::Kind::decoding,
                             QStringLiteral("サーバーからの応答を読み取れませんでした。"), problem);
    if (decoded->success)
        return *decoded;
    return UploadError::serverError(decoded->error.value_or(QStringLiteral("アップロード失敗")));
}

UploadResult UploadTransfer::run()
{
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return platformError(CURLE_FAILED_INIT, QStringLiteral("curl_easy_init failed"));
    CURL *h = easy.get();

    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const QByteArray &line :
         {"Content-Type: multipart/form-data; boundary=" + m_boundary,
          // Servers that never answer 100-continue would hold every upload a second.
          QByteArray("Expect:")}) {
        curl_slist *grown = curl_slist_append(headers.get(), line.constData());
        if (!grown)
            return platformError(CURLE_OUT_OF_MEMORY, QStringLiteral("curl_slist_append failed"));
        (void)headers.release();
        headers.reset(grown);
    }

    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray url = m_endpoint.toEncoded();
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_body.size()));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &UploadTransfer::readBody);
    curl_easy_setopt(h, CURLOPT_READDATA, this);
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, uploadBufferBytes);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &UploadTransfer::writeReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &UploadTransfer::onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_idleTimeout.count()));
    // Never relaxed: an upload goes only to a server that proves who it is.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // A redirect would need the whole body again; the endpoint is fixed.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // Proxies: libcurl reads http_proxy, https_proxy and no_proxy itself.

    m_lastActivity = std::chrono::steady_clock::now();
    const CURLcode code = curl_easy_perform(h);
    const QString detail =
        QString::fromLocal8Bit(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));

    if (m_shared.abort.load()) {
        m_aborted = true;
        return platformError(CURLE_ABORTED_BY_CALLBACK, detail);
    }
    if (m_body.failure())
        return *m_body.failure();
    if (m_timedOut)
        return platformError(CURLE_OPERATION_TIMEDOUT, detail);
    if (m_replyTooLarge)
        return UploadError::invalidResponse();
    if (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_UNSUPPORTED_PROTOCOL)
        return UploadError::invalidResponse(); // e.g. not HTTP at all
    if (code != CURLE_OK)
        return platformError(code, detail);

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status < 100)
        return UploadError::invalidResponse();
    return resultForReply(status, m_reply);
}
