#include "UploadService.h"

#include "PasswordHash.h"
#include "RandomToken.h"
#include "SharePages.h"
#include "TextEncoding.h"
#include "UploadStaging.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <iostream>
#include <regex>

using httplib::Request;
using httplib::Response;

namespace {

constexpr const char *uploadPath = "/api/upload.php";
constexpr std::size_t maxPasswordBytes = 1024;
constexpr std::size_t maxIgnoredFieldBytes = 64 * 1024;
constexpr std::size_t maxFormBytes = 8192;
constexpr std::size_t maxHeaderCount = 100;
constexpr std::size_t maxHeaderBytes = 64 * 1024;
// How much of a refused body is still read and dropped before answering, so
// that a client that sends without waiting for "100 Continue" is reading when
// the reply comes rather than being reset mid-send (closing a socket with
// unread data resets the connection, and the reply can be lost with it).
constexpr std::uint64_t drainBytes = 64ULL * 1024 * 1024;

// Identifiers in routes have exactly the shape RandomToken::identifier() makes.
constexpr const char *sharePattern = R"(/f/([A-Za-z0-9_-]{22}))";
constexpr const char *downloadPattern = R"(/d/([A-Za-z0-9_-]{22})(?:/([0-9]{1,4}))?)";
const std::regex shareRoute(sharePattern);

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Control characters and spaces in logged request lines become %XX, so a client
// cannot forge log lines.
std::string loggable(const std::string &text)
{
    std::string out;
    for (const char ch : text.substr(0, 512)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || c == '"') {
            static constexpr char digits[] = "0123456789ABCDEF";
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        } else {
            out += ch;
        }
    }
    return out;
}

void setSecurityHeaders(Response &res)
{
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Cache-Control", "no-store");
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                   "frame-ancestors 'none'; base-uri 'none'");
}

void sendPage(Response &res, int status, const std::string &html)
{
    res.status = status;
    setSecurityHeaders(res);
    res.set_content(html, "text/html; charset=utf-8");
}

void sendJsonError(Response &res, int status, const std::string &message)
{
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    const nlohmann::json reply = {{"success", false}, {"error", message}};
    res.set_content(reply.dump(), "application/json; charset=utf-8");
}

bool isApiPath(const std::string &path)
{
    return path.rfind("/api/", 0) == 0;
}

bool hasContentType(const Request &req, const char *type)
{
    std::string value = req.get_header_value("Content-Type");
    for (auto &c : value) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return value.rfind(type, 0) == 0;
}

std::string safeContentType(const std::string &type)
{
    if (type.empty() || type.size() > 200) {
        return "application/octet-stream";
    }
    for (const char c : type) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            return "application/octet-stream";
        }
    }
    return type;
}

std::string cookieValue(const Request &req, const std::string &name)
{
    for (std::size_t i = 0; i < req.get_header_value_count("Cookie"); ++i) {
        const std::string header = req.get_header_value("Cookie", i);
        std::size_t start = 0;
        while (start < header.size()) {
            std::size_t end = header.find(';', start);
            if (end == std::string::npos) {
                end = header.size();
            }
            std::string pair = header.substr(start, end - start);
            const auto first = pair.find_first_not_of(' ');
            pair = first == std::string::npos ? std::string() : pair.substr(first);
            const auto eq = pair.find('=');
            if (eq != std::string::npos && pair.substr(0, eq) == name) {
                return pair.substr(eq + 1);
            }
            start = end + 1;
        }
    }
    return {};
}

std::string formField(const std::string &body, const std::string &name)
{
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t end = body.find('&', start);
        if (end == std::string::npos) {
            end = body.size();
        }
        const std::string pair = body.substr(start, end - start);
        const auto eq = pair.find('=');
        if (TextEncoding::formUrlDecode(pair.substr(0, eq)) == name) {
            return eq == std::string::npos ? std::string()
                                           : TextEncoding::formUrlDecode(pair.substr(eq + 1));
        }
        start = end + 1;
    }
    return {};
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
    stop();
    if (m_purgeThread.joinable()) {
        m_purgeThread.join();
    }
}

std::uint64_t UploadService::requestOverhead() const
{
    // Room for part headers, boundaries and the password around the file bytes.
    return 64 * 1024 + m_options.maxFiles * 16 * 1024;
}

bool UploadService::start(std::string &error)
{
    if (!m_store.open(error)) {
        return false;
    }
    const int purged = m_store.purgeExpired(now());
    if (purged > 0) {
        logLine("purged " + std::to_string(purged) + " expired upload(s)");
    }

    if (m_options.useTls()) {
        auto server = std::make_unique<httplib::SSLServer>(m_options.certFile.c_str(),
                                                           m_options.keyFile.c_str());
        if (!server->is_valid()) {
            error = "cannot load the TLS certificate '" + m_options.certFile + "' or key '" +
                    m_options.keyFile + "'";
            return false;
        }
        m_server = std::move(server);
    } else {
        m_server = std::make_unique<httplib::Server>();
    }

    // Each connection holds a worker while it reads; more workers than the
    // library's default keep a few slow clients from blocking everyone else.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    // One request per connection: a refused body that was never read can then
    // not be taken for the next request on the same connection.
    m_server->set_keep_alive_max_count(1);
    m_server->set_read_timeout(m_options.timeoutSeconds, 0);
    m_server->set_write_timeout(m_options.timeoutSeconds, 0);
    m_server->set_payload_max_length(
        static_cast<std::size_t>(m_options.maxBytes + requestOverhead()));
    // The library's default socket options allow several servers on one port.
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    installRoutes();

    int port = m_options.port;
    if (port == 0) {
        port = m_server->bind_to_any_port(m_options.host);
        if (port < 0) {
            port = 0;
        }
    } else if (!m_server->bind_to_port(m_options.host, port)) {
        port = 0;
    }
    if (port == 0) {
        error = "cannot listen on " + m_options.host + ":" + std::to_string(m_options.port) +
                " (address in use or not available)";
        return false;
    }
    const bool v6 = m_options.host.find(':') != std::string::npos;
    m_listeningUrl = std::string(m_options.useTls() ? "https" : "http") + "://" +
                     (v6 ? "[" + m_options.host + "]" : m_options.host) + ":" +
                     std::to_string(port);

    m_purgeThread = std::thread([this] { purgeLoop(); });
    return true;
}

bool UploadService::run()
{
    if (!m_server) {
        return false;
    }
    // The library ignores stop() until its accept loop is running, so a stop
    // requested early is repeated until the loop has ended.
    std::thread stopper([this] {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stopping; });
        lock.unlock();
        while (!m_listenEnded) {
            m_server->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const bool ok = m_server->listen_after_bind();
    m_listenEnded = true;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    stopper.join();
    return ok;
}

void UploadService::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
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

void UploadService::purgeLoop()
{
    const auto interval =
        std::chrono::seconds(std::clamp<std::int64_t>(m_expirySeconds / 4, 1, 600));
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, interval, [this] { return m_stopping; })) {
        lock.unlock();
        const int purged = m_store.purgeExpired(now());
        if (purged > 0) {
            logLine("purged " + std::to_string(purged) + " expired upload(s)");
        }
        lock.lock();
    }
}

void UploadService::installRoutes()
{
    auto &server = *m_server;
    server.set_logger([this](const Request &req, const Response &res) {
        logLine(req.remote_addr + " \"" + loggable(req.method) + " " + loggable(req.path) + "\" " +
                std::to_string(res.status) + " " +
                std::to_string(res.body.empty() ? res.content_length_ : res.body.size()));
    });
    server.set_expect_100_continue_handler([this](const Request &req, Response &res) {
        return rejectBeforeBody(req, res) ? res.status : 100;
    });
    server.set_pre_routing_handler([this](const Request &req, Response &res) {
        return rejectBeforeBody(req, res) ? httplib::Server::HandlerResponse::Handled
                                          : httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const Request &req, Response &res) {
            if (!res.body.empty() || res.content_length_ > 0) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            if (isApiPath(req.path)) {
                sendJsonError(res, res.status, "リクエストを処理できませんでした。");
            } else if (res.status == 404) {
                sendPage(res, 404, SharePages::notFoundPage());
            } else {
                sendPage(res, res.status, SharePages::errorPage(res.status));
            }
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler([this](const Request &req, Response &res, std::exception_ptr ep) {
        std::string what = "unknown exception";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception &e) {
            what = e.what();
        } catch (...) {
        }
        logLine("error: " + loggable(req.path) + ": " + what);
        res.body.clear();
        if (isApiPath(req.path)) {
            sendJsonError(res, 500, "サーバーでエラーが発生しました。");
        } else {
            sendPage(res, 500, SharePages::errorPage(500));
        }
    });

    server.Post(uploadPath,
                [this](const Request &req, Response &res, const httplib::ContentReader &reader) {
                    handleUpload(req, res, reader);
                });
    server.Post(sharePattern,
                [this](const Request &req, Response &res) { handlePassword(req, res); });
    server.Get(sharePattern,
               [this](const Request &req, Response &res) { handleSharePage(req, res); });
    server.Get(downloadPattern,
               [this](const Request &req, Response &res) { handleDownload(req, res); });
    server.Get("/",
               [](const Request &, Response &res) { sendPage(res, 200, SharePages::indexPage()); });
}

// Decides from the request line and headers alone, before any body is read:
// only what can be answered without buffering an unbounded body gets through.
bool UploadService::rejectBeforeBody(const Request &req, Response &res)
{
    std::size_t headerBytes = 0;
    for (const auto &[name, value] : req.headers) {
        headerBytes += name.size() + value.size() + 4;
    }
    if (req.headers.size() > maxHeaderCount || headerBytes > maxHeaderBytes) {
        sendPage(res, 431, SharePages::errorPage(431));
        return true;
    }
    const std::string encoding = req.get_header_value("Content-Encoding");
    if (!encoding.empty() && encoding != "identity") {
        // Compressed bodies would let a small request unpack into a huge one.
        if (isApiPath(req.path)) {
            sendJsonError(res, 415, "圧縮されたリクエストには対応していません。");
        } else {
            sendPage(res, 415, SharePages::errorPage(415));
        }
        return true;
    }
    if (req.method == "GET" || req.method == "HEAD") {
        return false;
    }
    if (req.method != "POST") {
        res.set_header("Allow", "GET, HEAD, POST");
        if (isApiPath(req.path)) {
            sendJsonError(res, 405, "このメソッドには対応していません。");
        } else {
            sendPage(res, 405, SharePages::errorPage(405));
        }
        return true;
    }
    const bool hasLength = req.has_header("Content-Length");
    const auto length = req.get_header_value<std::uint64_t>("Content-Length");
    if (req.path == uploadPath) {
        if (!hasContentType(req, "multipart/form-data")) {
            sendJsonError(res, 400,
                          "リクエストの形式が正しくありません（multipart/form-data "
                          "ではありません）。");
            return true;
        }
        const bool waitsForContinue = req.get_header_value("Expect") == "100-continue";
        const std::uint64_t allowed = m_options.maxBytes + requestOverhead();
        // Too large to drain, or not sent yet: refuse now. Otherwise the upload
        // handler reads and drops the body, then refuses it.
        if (hasLength && length > allowed && (waitsForContinue || length > allowed + drainBytes)) {
            sendJsonError(res, 413,
                          "ファイルサイズの合計が上限（" +
                              TextEncoding::formatSize(m_options.maxBytes) + "）を超えています。");
            return true;
        }
        return false;
    }
    std::smatch match;
    if (std::regex_match(req.path, match, shareRoute)) {
        if (!hasLength || req.has_header("Transfer-Encoding")) {
            sendPage(res, 411, SharePages::errorPage(411));
            return true;
        }
        if (length > maxFormBytes) {
            sendPage(res, 413, SharePages::errorPage(413));
            return true;
        }
        if (!hasContentType(req, "application/x-www-form-urlencoded")) {
            sendPage(res, 415, SharePages::errorPage(415));
            return true;
        }
        return false;
    }
    if (isApiPath(req.path)) {
        sendJsonError(res, 404, "このアドレスには何もありません。");
    } else {
        sendPage(res, 404, SharePages::notFoundPage());
    }
    return true;
}

void UploadService::handleUpload(const Request &req, Response &res,
                                 const httplib::ContentReader &reader)
{
    enum class Part { None, File, Password, Ignored };
    enum class Failure { None, TooLarge, TooManyFiles, PasswordTooLong, ExtraField, Storage };

    UploadStaging staging(m_store);
    if (!staging.isValid()) {
        logLine("error: cannot create an upload folder: " + staging.lastError());
        sendJsonError(res, 500, "ファイルを保存できませんでした。");
        return;
    }

    Part part = Part::None;
    Failure failure = Failure::None;
    std::string password;
    std::size_t fileParts = 0;
    std::uint64_t ignoredBytes = 0;
    std::uint64_t drained = 0;
    const auto fail = [&](Failure why) {
        failure = why;
        part = Part::Ignored;
    };
    if (req.has_header("Content-Length") && req.get_header_value<std::uint64_t>("Content-Length") >
                                                m_options.maxBytes + requestOverhead()) {
        fail(Failure::TooLarge);
    }

    const auto onPart = [&](const httplib::MultipartFormData &header) {
        if (failure == Failure::Storage) {
            return false;
        }
        if (failure != Failure::None) {
            return drained <= drainBytes;
        }
        if (!staging.finish()) {
            fail(Failure::Storage);
            return false;
        }
        if (header.name == "file" || header.name == "files[]") {
            if (++fileParts > m_options.maxFiles) {
                fail(Failure::TooManyFiles);
                return true;
            }
            std::string name =
                TextEncoding::toValidUtf8(TextEncoding::decodeMultipartFileName(header.filename));
            if (name.empty()) {
                name = "file";
            }
            if (!staging.beginFile(std::move(name), safeContentType(header.content_type))) {
                fail(Failure::Storage);
                return false;
            }
            part = Part::File;
        } else if (header.name == "password" && header.filename.empty()) {
            password.clear();
            part = Part::Password;
        } else {
            part = Part::Ignored;
        }
        return true;
    };
    const auto onData = [&](const char *data, std::size_t length) {
        if (failure != Failure::None) {
            drained += length;
            return failure != Failure::Storage && drained <= drainBytes;
        }
        switch (part) {
        case Part::File:
            if (staging.totalBytes() + length > m_options.maxBytes) {
                fail(Failure::TooLarge);
                drained += length;
                return true;
            }
            if (!staging.write(data, length)) {
                fail(Failure::Storage);
                return false;
            }
            return true;
        case Part::Password:
            password.append(data, length);
            if (password.size() > maxPasswordBytes) {
                fail(Failure::PasswordTooLong);
            }
            return true;
        case Part::Ignored:
        case Part::None:
            ignoredBytes += length;
            if (ignoredBytes > maxIgnoredFieldBytes) {
                fail(Failure::ExtraField);
            }
            return true;
        }
        return true;
    };

    const bool complete = reader(onPart, onData);
    const bool stored = complete && failure == Failure::None && staging.finish();

    switch (failure) {
    case Failure::TooLarge:
        sendJsonError(res, 413,
                      "ファイルサイズの合計が上限（" +
                          TextEncoding::formatSize(m_options.maxBytes) + "）を超えています。");
        return;
    case Failure::TooManyFiles:
        sendJsonError(res, 400,
                      "ファイルが多すぎます（一度にアップロードできるのは " +
                          std::to_string(m_options.maxFiles) + " 個までです）。");
        return;
    case Failure::PasswordTooLong:
        sendJsonError(res, 400, "パスワードが長すぎます。");
        return;
    case Failure::ExtraField:
        sendJsonError(res, 400, "リクエストに不要なデータが多すぎます。");
        return;
    case Failure::Storage:
        logLine("error: storing an upload failed: " + staging.lastError());
        sendJsonError(res, 500, "ファイルを保存できませんでした。");
        return;
    case Failure::None:
        break;
    }
    if (!complete) {
        sendJsonError(res, 400, "リクエストの形式が正しくありません。");
        return;
    }
    if (!stored) {
        logLine("error: storing an upload failed: " + staging.lastError());
        sendJsonError(res, 500, "ファイルを保存できませんでした。");
        return;
    }
    if (staging.files().empty()) {
        sendJsonError(res, 400, "ファイルが含まれていません。");
        return;
    }

    UploadRecord record;
    record.createdAt = now();
    record.expiresAt = record.createdAt + m_expirySeconds;
    record.files = staging.files();
    if (!password.empty()) {
        record.passwordHash = PasswordHash::create(password);
    }
    std::string error;
    if (!m_store.publish(staging.dir(), record, error)) {
        logLine("error: publishing an upload failed: " + error);
        sendJsonError(res, 500, "ファイルを保存できませんでした。");
        return;
    }
    staging.release();

    nlohmann::json names = nlohmann::json::array();
    for (const auto &file : record.files) {
        names.push_back(file.name);
    }
    const std::string base = publicBase();
    const nlohmann::json reply = {
        {"success", true},
        {"id", record.id},
        {"url", base + "/f/" + record.id},
        {"download_url", base + "/d/" + record.id},
        {"expires_at", TextEncoding::isoUtc(record.expiresAt)},
        {"expires_in", record.expiresAt - now()},
        {"size_bytes", static_cast<std::int64_t>(record.totalSize())},
        {"file_count", static_cast<std::int64_t>(record.files.size())},
        {"original_names", names},
        {"password_protected", record.isProtected()},
    };
    res.status = 200;
    res.set_header("Cache-Control", "no-store");
    res.set_content(reply.dump(), "application/json; charset=utf-8");
}

std::string UploadService::accessToken(const UploadRecord &record) const
{
    const std::string message = record.id + "\n" + record.passwordHash;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), m_store.secret().data(), static_cast<int>(m_store.secret().size()),
         reinterpret_cast<const unsigned char *>(message.data()), message.size(), digest, &length);
    return TextEncoding::base64Url(std::string(reinterpret_cast<char *>(digest), length));
}

bool UploadService::hasAccess(const Request &req, const UploadRecord &record) const
{
    if (!record.isProtected()) {
        return true;
    }
    const std::string presented = cookieValue(req, "pelkin_" + record.id);
    const std::string expected = accessToken(record);
    return presented.size() == expected.size() &&
           CRYPTO_memcmp(presented.data(), expected.data(), expected.size()) == 0;
}

void UploadService::handleSharePage(const Request &req, Response &res)
{
    const auto record = m_store.find(req.matches[1].str(), now());
    if (!record) {
        sendPage(res, 404, SharePages::notFoundPage());
    } else if (!hasAccess(req, *record)) {
        sendPage(res, 200, SharePages::passwordPage(*record, false));
    } else {
        sendPage(res, 200, SharePages::filesPage(*record));
    }
}

void UploadService::handlePassword(const Request &req, Response &res)
{
    const auto record = m_store.find(req.matches[1].str(), now());
    if (!record) {
        sendPage(res, 404, SharePages::notFoundPage());
        return;
    }
    if (!record->isProtected()) {
        res.set_redirect(record->id, 303);
        return;
    }
    const std::string password = formField(req.body, "password");
    if (!PasswordHash::verify(password, record->passwordHash)) {
        sendPage(res, 403, SharePages::passwordPage(*record, true));
        return;
    }
    const std::int64_t maxAge = std::max<std::int64_t>(1, record->expiresAt - now());
    res.set_header("Set-Cookie", "pelkin_" + record->id + "=" + accessToken(*record) +
                                     "; Path=/; Max-Age=" + std::to_string(maxAge) +
                                     "; HttpOnly; SameSite=Lax" +
                                     (m_options.useTls() ? "; Secure" : ""));
    setSecurityHeaders(res);
    // Relative, like every link of ours, so the service also works under a
    // path prefix behind a proxy: "ID" from /f/ID is /f/ID again.
    res.set_redirect(record->id, 303);
}

void UploadService::handleDownload(const Request &req, Response &res)
{
    const auto record = m_store.find(req.matches[1].str(), now());
    if (!record) {
        sendPage(res, 404, SharePages::notFoundPage());
        return;
    }
    const bool indexGiven = req.matches[2].matched;
    if (!hasAccess(req, *record) || (!indexGiven && record->files.size() != 1)) {
        res.set_redirect((indexGiven ? "../../f/" : "../f/") + record->id, 303);
        return;
    }
    const std::size_t index = indexGiven ? std::stoul(req.matches[2].str()) : 0;
    const auto path = m_store.filePath(*record, index);
    const int fd = path ? ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW) : -1;
    struct stat info
    {
    };
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        sendPage(res, 404, SharePages::notFoundPage());
        return;
    }
    const auto &file = record->files[index];
    res.status = 200;
    res.set_header("Content-Disposition", TextEncoding::contentDispositionAttachment(file.name));
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Cache-Control", "private, no-store");
    res.set_header("Content-Security-Policy", "sandbox");
    // Served as bytes only: an uploaded HTML file must never run as our page.
    res.set_content_provider(
        static_cast<std::size_t>(info.st_size), "application/octet-stream",
        [fd](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
            char buffer[64 * 1024];
            const std::size_t want = std::min(length, sizeof buffer);
            const ssize_t got = ::pread(fd, buffer, want, static_cast<off_t>(offset));
            if (got <= 0) {
                return false;
            }
            return sink.write(buffer, static_cast<std::size_t>(got));
        },
        [fd](bool) { ::close(fd); });
}
