#include "UploadService.h"

#include "AccessTokens.h"
#include "ExpiryPurger.h"
#include "FileIo.h"
#include "HeaderText.h"
#include "MultipartReader.h"
#include "PasswordHash.h"
#include "RandomToken.h"
#include "RangeRequest.h"
#include "RequestFields.h"
#include "ServiceReplies.h"
#include "SharePages.h"
#include "TextEncoding.h"
#include "UploadReceiver.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <iostream>

namespace {

constexpr const char *uploadPath = "/api/upload.php";
constexpr std::size_t maxFormBytes = 8192;

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Each connection needs a socket and, while uploading, a file; keep well under
// the descriptor limit, raised to its maximum first.
unsigned connectionLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const rlim_t usable = limit.rlim_cur > 128 ? (limit.rlim_cur - 64) / 2 : 32;
    return static_cast<unsigned>(std::min<rlim_t>(usable, 10000));
}

// Collects a small form body (the password form) in memory.
class FormBody : public HttpBody
{
public:
    using Finish = std::function<HttpResponse(const std::string &)>;
    explicit FormBody(Finish finish)
        : m_finish(std::move(finish))
    {}
    bool data(std::string_view bytes) override
    {
        m_body.append(bytes);
        return m_body.size() <= maxFormBytes;
    }
    HttpResponse finish() override { return m_finish(m_body); }

private:
    Finish m_finish;
    std::string m_body;
};

HttpAnswer answer(HttpResponse response)
{
    HttpAnswer result;
    result.response = std::move(response);
    return result;
}

// "/f/ID" gives ID; "/d/ID" and "/d/ID/N" give ID and N.
bool matchRoute(const std::string &path, char kind, std::string &id,
                std::optional<std::size_t> &index)
{
    if (path.size() < 25 || path[0] != '/' || path[1] != kind || path[2] != '/') {
        return false;
    }
    id = path.substr(3, 22);
    if (!RandomToken::isIdentifier(id)) {
        return false;
    }
    const std::string rest = path.substr(25);
    if (rest.empty()) {
        return true;
    }
    if (kind != 'd' || rest.size() < 2 || rest.size() > 5 || rest[0] != '/' ||
        rest.find_first_not_of("0123456789", 1) != std::string::npos) {
        return false;
    }
    index = std::stoul(rest.substr(1));
    return true;
}

} // namespace

UploadService::UploadService(ServerOptions options)
    : m_options(std::move(options))
    , m_store(m_options.dataDir)
{
    m_expirySeconds = std::max<std::int64_t>(1, std::llround(m_options.expireDays * 24.0 * 3600.0));
}

UploadService::~UploadService()
{
    if (m_http) {
        m_http->shutdown(std::chrono::milliseconds(0));
    }
}

std::string UploadService::publicBase() const
{
    return m_options.publicUrl.empty() ? m_listeningUrl : m_options.publicUrl;
}

void UploadService::logLine(const std::string &line)
{
    std::lock_guard lock(m_logMutex);
    std::cerr << TextEncoding::isoUtc(now()) << ' ' << line << std::endl;
}

bool UploadService::start(std::string &error)
{
    if (!m_store.open(error)) {
        return false;
    }
    if (m_store.leftoversRemoved() > 0) {
        logLine("removed " + std::to_string(m_store.leftoversRemoved()) +
                " unfinished upload(s) left by an earlier run");
    }
    m_tokens = std::make_unique<AccessTokens>(m_store.secret());
    m_purger = std::make_unique<ExpiryPurger>(m_store, m_expirySeconds,
                                              [this](const std::string &line) { logLine(line); });
    m_purger->start();

    std::string certPem;
    std::string keyPem;
    if (m_options.useTls()) {
        const auto cert = FileIo::readSmallFile(m_options.certFile);
        const auto key = FileIo::readSmallFile(m_options.keyFile);
        if (!cert || !key || cert->empty() || key->empty()) {
            error = "cannot load the TLS certificate '" + m_options.certFile + "' or key '" +
                    m_options.keyFile + "'";
            return false;
        }
        certPem = *cert;
        keyPem = *key;
    }

    m_http = std::make_unique<HttpServer>([this](const HttpRequest &r) { return route(r); },
                                          [this](const std::string &line) { logLine(line); });
    std::string reason;
    if (!m_http->bind(m_options.host, m_options.port, reason)) {
        error = "cannot listen on " + m_options.host + ":" + std::to_string(m_options.port) +
                " (" + reason + ")";
        return false;
    }
    HttpServer::Limits limits;
    limits.idleSeconds = m_options.timeoutSeconds;
    limits.headerSeconds = std::min(10, m_options.timeoutSeconds);
    limits.rateWindowSeconds = m_options.timeoutSeconds;
    limits.maxConnections = connectionLimit();
    if (!m_http->start(limits, certPem, keyPem, reason)) {
        error = m_options.useTls() ? "cannot load the TLS certificate '" + m_options.certFile +
                                         "' or key '" + m_options.keyFile + "'"
                                   : reason;
        return false;
    }
    const bool v6 = m_options.host.find(':') != std::string::npos;
    m_listeningUrl = std::string(m_options.useTls() ? "https" : "http") + "://" +
                     (v6 ? "[" + m_options.host + "]" : m_options.host) + ":" +
                     std::to_string(m_http->port());
    return true;
}

bool UploadService::run()
{
    if (!m_http) {
        return false;
    }
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stopping; });
    }
    const int uploads = m_http->bodiesInProgress();
    logLine("stopping: no new connections" +
            (uploads > 0 ? ", waiting up to " + std::to_string(shutdownGrace.count()) + " s for " +
                               std::to_string(uploads) + " upload(s) in progress"
                         : std::string()));
    m_http->shutdown(shutdownGrace);
    m_purger->stop();
    return true;
}

void UploadService::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
}

HttpAnswer UploadService::route(const HttpRequest &request)
{
    try {
        return dispatch(request);
    } catch (const std::exception &e) {
        logLine("error: " + request.remoteAddress + " " + request.method + ": " + e.what());
        return answer(ServiceReplies::error(request.path, 500));
    }
}

HttpAnswer UploadService::dispatch(const HttpRequest &request)
{
    using ServiceReplies::error;
    const std::string &path = request.path;
    if (request.tooManyHeaders) {
        return answer(error(path, 431));
    }
    if (request.framing.refusal != 0) {
        return answer(error(path, request.framing.refusal));
    }
    const std::string encoding = HeaderText::lower(request.header("Content-Encoding"));
    if (!encoding.empty() && encoding != "identity") {
        // Compressed bodies would let a small request unpack into a huge one.
        return answer(error(path, 415));
    }
    const bool read = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    if (!read && !post) {
        HttpResponse refused = error(path, 405);
        refused.setHeader("Allow", path == uploadPath ? "POST" : "GET, HEAD, POST");
        return answer(std::move(refused));
    }
    if (path == uploadPath) {
        if (!post) {
            HttpResponse refused = error(path, 405);
            refused.setHeader("Allow", "POST");
            return answer(std::move(refused));
        }
        return startUpload(request);
    }
    std::string id;
    std::optional<std::size_t> index;
    if (matchRoute(path, 'f', id, index)) {
        return post ? startPasswordForm(request, id) : answer(sharePage(request, id));
    }
    if (read && matchRoute(path, 'd', id, index)) {
        return answer(download(request, id, index));
    }
    if (read && path == "/") {
        return answer(ServiceReplies::page(200, SharePages::indexPage()));
    }
    return answer(error(path, 404));
}

HttpAnswer UploadService::startUpload(const HttpRequest &request)
{
    if (request.framing.body == RequestFraming::Body::None) {
        return answer(ServiceReplies::error(request.path, 411));
    }
    const auto boundary = MultipartReader::boundaryOf(request.header("Content-Type"));
    if (!boundary) {
        return answer(ServiceReplies::jsonError(
            400, "リクエストの形式が正しくありません（multipart/form-data ではありません）。"));
    }
    const std::uint64_t allowed =
        m_options.maxBytes + UploadReceiver::requestOverhead(m_options.maxFiles);
    const bool hasLength = request.framing.body == RequestFraming::Body::Length;
    const std::uint64_t length = request.framing.length;
    const bool waitsForContinue =
        HeaderText::lower(request.header("Expect")) == "100-continue";
    // Too large to drain, or not sent yet: refuse now. Otherwise the body is
    // read and dropped, then refused.
    if (hasLength && length > allowed &&
        (waitsForContinue || length > allowed + UploadReceiver::drainBytes)) {
        return answer(ServiceReplies::jsonError(413, "ファイルサイズの合計が上限（" +
                                                         TextEncoding::formatSize(m_options.maxBytes) +
                                                         "）を超えています。"));
    }
    UploadReceiver::Settings settings{m_options.maxBytes, m_options.maxFiles, m_expirySeconds,
                                      publicBase()};
    HttpAnswer result;
    result.body = std::make_unique<UploadReceiver>(
        m_store, std::move(settings), *boundary, hasLength && length > allowed,
        [this](const std::string &line) { logLine(line); });
    return result;
}

HttpAnswer UploadService::startPasswordForm(const HttpRequest &request, const std::string &id)
{
    if (request.framing.body != RequestFraming::Body::Length) {
        return answer(ServiceReplies::page(411, SharePages::errorPage(411)));
    }
    if (request.framing.length > maxFormBytes) {
        return answer(ServiceReplies::page(413, SharePages::errorPage(413)));
    }
    if (HeaderText::lower(request.header("Content-Type")).rfind("application/x-www-form-urlencoded", 0) != 0) {
        return answer(ServiceReplies::page(415, SharePages::errorPage(415)));
    }
    HttpAnswer result;
    result.body = std::make_unique<FormBody>(
        [this, request, id](const std::string &form) { return passwordAnswer(request, id, form); });
    return result;
}

HttpResponse UploadService::passwordAnswer(const HttpRequest &request, const std::string &id,
                                           const std::string &form)
{
    const auto record = m_store.find(id, now());
    if (!record) {
        return ServiceReplies::page(404, SharePages::notFoundPage());
    }
    if (!record->isProtected()) {
        return ServiceReplies::redirect(record->id);
    }
    // Each check costs tens of milliseconds of CPU and is a guess: both are
    // limited before the hash is computed.
    if (const int wait = m_throttle.take(request.remoteAddress, record->id); wait > 0) {
        HttpResponse refused = ServiceReplies::page(429, SharePages::passwordPage(*record, false, wait));
        refused.setHeader("Retry-After", std::to_string(wait));
        return refused;
    }
    const std::string password = RequestFields::formField(form, "password");
    if (!PasswordHash::verify(password, record->passwordHash)) {
        return ServiceReplies::page(403, SharePages::passwordPage(*record, true));
    }
    HttpResponse response = ServiceReplies::redirect(record->id);
    response.setHeader("Set-Cookie", m_tokens->setCookie(*record, now(), m_options.useTls()));
    return response;
}

HttpResponse UploadService::sharePage(const HttpRequest &request, const std::string &id)
{
    const auto record = m_store.find(id, now());
    if (!record) {
        return ServiceReplies::page(404, SharePages::notFoundPage());
    }
    if (!m_tokens->hasAccess(request.headerValues("Cookie"), *record)) {
        return ServiceReplies::page(200, SharePages::passwordPage(*record, false));
    }
    return ServiceReplies::page(200, SharePages::filesPage(*record));
}

HttpResponse UploadService::download(const HttpRequest &request, const std::string &id,
                                     std::optional<std::size_t> index)
{
    const auto record = m_store.find(id, now());
    if (!record) {
        return ServiceReplies::page(404, SharePages::notFoundPage());
    }
    if (!m_tokens->hasAccess(request.headerValues("Cookie"), *record) ||
        (!index && record->files.size() != 1)) {
        return ServiceReplies::redirect((index ? "../../f/" : "../f/") + record->id);
    }
    const std::size_t n = index.value_or(0);
    const auto path = m_store.filePath(*record, n);
    HttpResponse response;
    response.fd = path ? ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW) : -1;
    struct stat info
    {
    };
    if (response.fd < 0 || ::fstat(response.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return ServiceReplies::page(404, SharePages::notFoundPage());
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    // Uploads never change, so the identifier and index name the bytes for good.
    const std::string etag = "\"" + record->id + "-" + std::to_string(n) + "\"";
    const std::string modified =
        TextEncoding::formatUtc(record->createdAt, "%a, %d %b %Y %H:%M:%S GMT");
    RangeRequest range;
    const std::string ifRange = request.header("If-Range");
    if (ifRange.empty() || ifRange == etag || ifRange == modified) {
        range = RangeRequest::parse(request.header("Range"), size);
    }
    // Served as bytes only: an uploaded HTML file must never run as our page.
    response.setHeader("Content-Type", "application/octet-stream");
    response.setHeader("Content-Disposition",
                       TextEncoding::contentDispositionAttachment(record->files[n].name));
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Cache-Control", "private, no-store");
    response.setHeader("Content-Security-Policy", "sandbox");
    response.setHeader("Accept-Ranges", "bytes");
    response.setHeader("ETag", etag);
    response.setHeader("Last-Modified", modified);
    switch (range.kind) {
    case RangeRequest::Kind::Whole:
        response.status = 200;
        response.fileLength = size;
        break;
    case RangeRequest::Kind::Partial:
        response.status = 206;
        response.fileOffset = range.first;
        response.fileLength = range.length();
        response.setHeader("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                std::to_string(range.last) + "/" +
                                                std::to_string(size));
        break;
    case RangeRequest::Kind::Unsatisfiable:
        ::close(std::exchange(response.fd, -1));
        response.status = 416;
        response.setHeader("Content-Range", "bytes */" + std::to_string(size));
        break;
    }
    return response;
}
