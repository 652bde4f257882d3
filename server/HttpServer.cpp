#include "HttpServer.h"

#include "HeaderText.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

using Clock = std::chrono::steady_clock;

namespace {

// Control characters, spaces and quotes in logged request lines become %XX, so
// a client cannot forge log lines.
std::string loggable(std::string_view text)
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

std::string addressText(const sockaddr *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address && address->sa_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, text,
                    sizeof text);
    } else if (address && address->sa_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, text,
                    sizeof text);
    }
    return text[0] ? text : "-";
}

const char *reasonText(int reason)
{
    switch (reason) {
    case MHD_REQUEST_TERMINATED_COMPLETED_OK:
        return "refused by the HTTP layer (malformed or oversized request)";
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
        return "timed out";
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
        return "cut by shutdown";
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
    case MHD_REQUEST_TERMINATED_READ_ERROR:
        return "connection closed by the client";
    default:
        return "connection closed";
    }
}

} // namespace

struct HttpServer::Connection
{
    int fd = -1;
    std::string address;
    Clock::time_point opened;
    bool headersDone = false;
    bool inBody = false;
    bool cut = false;
    Clock::time_point windowStart;
    std::uint64_t windowBytes = 0;
};

struct HttpServer::Exchange
{
    MHD_Connection *connection = nullptr;
    std::string rawUri;
    std::string method = "-";
    std::string address;
    bool started = false;
    bool responded = false;
    bool aborted = false;
    bool counted = false;
    int libraryStatus = 0;
    std::unique_ptr<HttpBody> body;
};

std::string HttpRequest::header(std::string_view name) const
{
    const std::string key = HeaderText::lower(name);
    for (const auto &[k, v] : headers) {
        if (HeaderText::lower(k) == key) {
            return v;
        }
    }
    return {};
}

std::vector<std::string> HttpRequest::headerValues(std::string_view name) const
{
    const std::string key = HeaderText::lower(name);
    std::vector<std::string> out;
    for (const auto &[k, v] : headers) {
        if (HeaderText::lower(k) == key) {
            out.push_back(v);
        }
    }
    return out;
}

bool HttpRequest::hasHeader(std::string_view name) const
{
    const std::string key = HeaderText::lower(name);
    for (const auto &entry : headers) {
        if (HeaderText::lower(entry.first) == key) {
            return true;
        }
    }
    return false;
}

HttpResponse::HttpResponse(HttpResponse &&other) noexcept
    : status(other.status)
    , headers(std::move(other.headers))
    , body(std::move(other.body))
    , fd(std::exchange(other.fd, -1))
    , fileOffset(other.fileOffset)
    , fileLength(other.fileLength)
{}

HttpResponse &HttpResponse::operator=(HttpResponse &&other) noexcept
{
    if (this != &other) {
        if (fd >= 0) {
            ::close(fd);
        }
        status = other.status;
        headers = std::move(other.headers);
        body = std::move(other.body);
        fd = std::exchange(other.fd, -1);
        fileOffset = other.fileOffset;
        fileLength = other.fileLength;
    }
    return *this;
}

HttpResponse::~HttpResponse()
{
    if (fd >= 0) {
        ::close(fd);
    }
}

void HttpResponse::setHeader(std::string name, std::string value)
{
    const std::string key = HeaderText::lower(name);
    for (auto &entry : headers) {
        if (HeaderText::lower(entry.first) == key) {
            entry.second = std::move(value);
            return;
        }
    }
    headers.emplace_back(std::move(name), std::move(value));
}

// The C callbacks of libmicrohttpd, forwarding to the server object.
struct HttpServer::Callbacks
{
    static void *uri(void *cls, const char *uri, MHD_Connection *connection)
    {
        (void)cls;
        auto *exchange = new Exchange;
        exchange->connection = connection;
        exchange->rawUri = uri ? uri : "";
        const auto *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        exchange->address = addressText(info ? info->client_addr : nullptr);
        return exchange;
    }

    static MHD_Result request(void *cls, MHD_Connection *connection, const char *url,
                              const char *method, const char *, const char *uploadData,
                              std::size_t *uploadSize, void **context)
    {
        auto *server = static_cast<HttpServer *>(cls);
        if (!*context) {
            *context = uri(cls, url, connection);
        }
        auto *exchange = static_cast<Exchange *>(*context);
        return server->handle(*exchange, url, method, uploadData, uploadSize) ? MHD_YES : MHD_NO;
    }

    static void completed(void *cls, MHD_Connection *connection, void **context,
                          MHD_RequestTerminationCode reason)
    {
        auto *exchange = static_cast<Exchange *>(*context);
        *context = nullptr;
        if (exchange) {
            if (!exchange->started) {
                // Refused by the library itself (malformed or oversized headers).
                const auto *info =
                    MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
                exchange->libraryStatus = info ? static_cast<int>(info->http_status) : 0;
            }
            static_cast<HttpServer *>(cls)->finishExchange(
                exchange, reason == MHD_REQUEST_TERMINATED_COMPLETED_OK, reason);
        }
    }

    static void connection(void *cls, MHD_Connection *connection, void **socketContext,
                           MHD_ConnectionNotificationCode event)
    {
        auto *server = static_cast<HttpServer *>(cls);
        std::lock_guard lock(server->m_mutex);
        if (event == MHD_CONNECTION_NOTIFY_STARTED) {
            auto *state = new Connection;
            const auto *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            state->fd = info ? info->connect_fd : -1;
            const auto *peer =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            state->address = addressText(peer ? peer->client_addr : nullptr);
            state->opened = Clock::now();
            *socketContext = state;
            server->m_connections[connection] = state;
        } else {
            // Called before the library closes the socket, so the watcher never
            // shuts down a descriptor that was reused meanwhile.
            server->m_connections.erase(connection);
            delete static_cast<Connection *>(*socketContext);
            *socketContext = nullptr;
        }
    }

    static void log(void *cls, const char *format, va_list args)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        std::string line = text;
        // Logged with the client's address when the request ends.
        for (const char *known : {"Error processing request", "Connection was closed by remote",
                                  "Connection reset by remote", "Connection socket is closed"}) {
            if (line.rfind(known, 0) == 0) {
                return;
            }
        }
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        static_cast<HttpServer *>(cls)->m_logger("http: " + line);
    }

    static MHD_Result header(void *cls, MHD_ValueKind, const char *key, std::size_t keySize,
                             const char *value, std::size_t valueSize)
    {
        static_cast<std::vector<std::pair<std::string, std::string>> *>(cls)->emplace_back(
            std::string(key, keySize), value ? std::string(value, valueSize) : std::string());
        return MHD_YES;
    }
};

HttpServer::HttpServer(Handler handler, Logger logger)
    : m_handler(std::move(handler))
    , m_logger(std::move(logger))
{}

HttpServer::~HttpServer()
{
    shutdown(std::chrono::milliseconds(0));
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
    }
}

std::string HttpServer::errorReplyText(int status)
{
    const char *reason = MHD_get_reason_phrase_for(static_cast<unsigned>(status));
    return std::to_string(status) + " " + (reason ? reason : "");
}

bool HttpServer::bind(const std::string &host, int port, std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        error = "cannot resolve " + host;
        return false;
    }
    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int yes = 1;
    // A long backlog lets bursts of clients connect at once instead of retrying
    // after a second; the kernel caps it at net.core.somaxconn.
    const bool ok = fd >= 0 &&
                    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
                    ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                    ::listen(fd, SOMAXCONN) == 0;
    ::freeaddrinfo(found);
    if (!ok) {
        error = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6
                       ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                       : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    m_listenFd = fd;
    return true;
}

bool HttpServer::start(const Limits &limits, const std::string &certPem, const std::string &keyPem,
                       std::string &error)
{
    m_limits = limits;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC |
                     MHD_USE_ERROR_LOG;
    const bool tls = !certPem.empty();
    if (tls) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            error = "this build of libmicrohttpd has no TLS support";
            return false;
        }
        flags |= MHD_USE_TLS;
    }
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&Callbacks::log), this},
        {MHD_OPTION_LISTEN_SOCKET, m_listenFd, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits.connectionMemory),
         nullptr},
        // Reads grow the buffer in steps this big (the library's 1 KiB default
        // makes a long header line cost many small reads and rescans).
        {MHD_OPTION_CONNECTION_MEMORY_INCREMENT, 16 * 1024, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, limits.maxConnections, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds, nullptr},
        {MHD_OPTION_THREAD_POOL_SIZE, limits.threads, nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&Callbacks::uri), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Callbacks::completed), this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&Callbacks::connection), this},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char *>(certPem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char *>(keyPem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Callbacks::request, this,
                                MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (!m_daemon) {
        error = tls ? "cannot use the TLS certificate and key" : "cannot start the HTTP server";
        return false;
    }
    m_watcher = std::thread([this] { watchLoop(); });
    return true;
}

std::size_t HttpServer::connections()
{
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

void HttpServer::shutdown(std::chrono::milliseconds grace)
{
    if (!m_daemon) {
        return;
    }
    const int listenFd = MHD_quiesce_daemon(m_daemon);
    if (listenFd >= 0) {
        ::close(listenFd);
    }
    m_listenFd = -1;
    const auto deadline = Clock::now() + grace;
    while (m_bodies.load() > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_stopWatching = true;
    }
    m_wake.notify_all();
    if (m_watcher.joinable()) {
        m_watcher.join();
    }
}

bool HttpServer::handle(Exchange &exchange, const char *url, const char *method, const char *data,
                        std::size_t *size)
{
    MHD_Connection *mhd = exchange.connection;
    if (!exchange.started) {
        exchange.started = true;
        exchange.method = method;
        HttpRequest request;
        request.method = method;
        request.path = url;
        request.remoteAddress = exchange.address;
        MHD_get_connection_values_n(mhd, MHD_HEADER_KIND, &Callbacks::header, &request.headers);
        request.tooManyHeaders = request.headers.size() > m_limits.maxHeaders;
        request.framing = RequestFraming::of(request.headers);
        HttpAnswer answer;
        try {
            answer = m_handler(request);
        } catch (const std::exception &e) {
            m_logger("error: " + loggable(request.path) + ": " + e.what());
            answer = HttpAnswer{};
            answer.response.status = 500;
            answer.response.body = errorReplyText(500);
        }
        const auto now = Clock::now();
        {
            std::lock_guard lock(m_mutex);
            if (const auto it = m_connections.find(mhd); it != m_connections.end()) {
                it->second->headersDone = true;
                it->second->inBody = answer.body != nullptr;
                it->second->windowStart = now;
                it->second->windowBytes = 0;
            }
        }
        if (!answer.body) {
            return queue(exchange, std::move(answer.response));
        }
        exchange.body = std::move(answer.body);
        exchange.counted = true;
        ++m_bodies;
        return true;
    }
    if (exchange.responded) {
        *size = 0;
        return true;
    }
    if (*size > 0) {
        {
            std::lock_guard lock(m_mutex);
            if (const auto it = m_connections.find(mhd); it != m_connections.end()) {
                it->second->windowBytes += *size;
            }
        }
        const bool more = exchange.body && exchange.body->data(std::string_view(data, *size));
        *size = 0;
        if (!more) {
            exchange.aborted = true;
            return false;
        }
        return true;
    }
    if (!exchange.body) {
        return false;
    }
    HttpResponse response;
    try {
        response = exchange.body->finish();
    } catch (const std::exception &e) {
        m_logger("error: " + loggable(exchange.rawUri) + ": " + e.what());
        response = HttpResponse{};
        response.status = 500;
        response.body = errorReplyText(500);
    }
    return queue(exchange, std::move(response));
}

bool HttpServer::queue(Exchange &exchange, HttpResponse response)
{
    MHD_Response *reply = nullptr;
    std::uint64_t length = response.body.size();
    if (response.fd >= 0) {
        length = response.fileLength;
        reply = MHD_create_response_from_fd_at_offset64(
            response.fileLength, std::exchange(response.fd, -1), response.fileOffset);
    } else {
        reply = MHD_create_response_from_buffer(response.body.size(), response.body.data(),
                                                MHD_RESPMEM_MUST_COPY);
    }
    if (!reply) {
        return false;
    }
    for (const auto &[name, value] : response.headers) {
        MHD_add_response_header(reply, name.c_str(), value.c_str());
    }
    // One request per connection: whatever a client sends after its request
    // (say, the rest of a refused body) is never taken for a second request.
    MHD_add_response_header(reply, MHD_HTTP_HEADER_CONNECTION, "close");
    const bool ok =
        MHD_queue_response(exchange.connection, static_cast<unsigned>(response.status), reply) ==
        MHD_YES;
    MHD_destroy_response(reply);
    exchange.responded = true;
    const auto query = exchange.rawUri.find('?');
    m_logger(exchange.address + " \"" + loggable(exchange.method) + " " +
             loggable(std::string_view(exchange.rawUri).substr(0, query)) + "\" " +
             std::to_string(response.status) + " " + std::to_string(length));
    return ok;
}

void HttpServer::finishExchange(Exchange *exchange, bool delivered, int reason)
{
    if (!exchange->responded) {
        const auto query = exchange->rawUri.find('?');
        std::string line = exchange->address + " \"" + loggable(exchange->method) + " " +
                           loggable(std::string_view(exchange->rawUri).substr(0, query)) + "\" ";
        if (exchange->libraryStatus > 0) {
            line += std::to_string(exchange->libraryStatus) +
                    " - refused: malformed or oversized request headers";
        } else {
            line += std::string("- not answered: ") +
                    (exchange->aborted ? "body refused" : reasonText(reason));
        }
        m_logger(line);
    }
    if (exchange->body) {
        exchange->body->closed(delivered && exchange->responded);
    }
    if (exchange->counted) {
        --m_bodies;
    }
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_connections.find(exchange->connection); it != m_connections.end()) {
            it->second->inBody = false;
        }
    }
    delete exchange;
}

void HttpServer::watchLoop()
{
    const auto headerDeadline = std::chrono::seconds(m_limits.headerSeconds);
    const auto window = std::chrono::seconds(m_limits.rateWindowSeconds);
    const auto minBytes =
        static_cast<std::uint64_t>(m_limits.minBytesPerSecond * m_limits.rateWindowSeconds);
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_stopWatching; })) {
        const auto now = Clock::now();
        // Counted per address, so a flood makes one line per sweep, not thousands.
        std::map<std::string, std::pair<int, int>> cuts;
        for (auto &[mhd, state] : m_connections) {
            if (state->cut || state->fd < 0) {
                continue;
            }
            bool cut = false;
            if (!state->headersDone && now - state->opened > headerDeadline) {
                cut = true;
                ++cuts[state->address].first;
            } else if (state->inBody && now - state->windowStart >= window) {
                if (state->windowBytes < minBytes) {
                    cut = true;
                    ++cuts[state->address].second;
                } else {
                    state->windowStart = now;
                    state->windowBytes = 0;
                }
            }
            if (cut) {
                // The event loop sees the connection end and cleans it up.
                ::shutdown(state->fd, SHUT_RDWR);
                state->cut = true;
            }
        }
        if (!cuts.empty()) {
            lock.unlock();
            for (const auto &[address, counts] : cuts) {
                if (counts.first > 0) {
                    m_logger(address + " " + std::to_string(counts.first) +
                             " connection(s) closed: request headers not complete within " +
                             std::to_string(m_limits.headerSeconds) + " s");
                }
                if (counts.second > 0) {
                    m_logger(address + " " + std::to_string(counts.second) +
                             " upload(s) closed: under " +
                             std::to_string(static_cast<int>(m_limits.minBytesPerSecond)) +
                             " bytes/s for " + std::to_string(m_limits.rateWindowSeconds) + " s");
                }
            }
            lock.lock();
        }
    }
}
