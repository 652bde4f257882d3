#pragma once

#include "RequestFraming.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

struct HttpRequest
{
    std::string method;
    std::string path; // percent-decoded, without the query
    std::string remoteAddress;
    std::vector<std::pair<std::string, std::string>> headers;
    // How the body is delimited; framing.refusal set means it must be refused.
    RequestFraming framing;
    bool tooManyHeaders = false;

    // The first value of a header (names compare case-insensitively), or empty.
    std::string header(std::string_view name) const;
    std::vector<std::string> headerValues(std::string_view name) const;
    bool hasHeader(std::string_view name) const;
};

struct HttpResponse
{
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // When fd >= 0 the body is fileLength bytes of that file from fileOffset;
    // the response owns the descriptor.
    int fd = -1;
    std::uint64_t fileOffset = 0;
    std::uint64_t fileLength = 0;

    HttpResponse() = default;
    HttpResponse(HttpResponse &&other) noexcept;
    HttpResponse &operator=(HttpResponse &&other) noexcept;
    ~HttpResponse();

    void setHeader(std::string name, std::string value);
};

// Receives the body of one request.
class HttpBody
{
public:
    virtual ~HttpBody() = default;
    // A piece of the body (already de-chunked). False: read no more of it and
    // close the connection without a reply (for bodies too big even to drain).
    virtual bool data(std::string_view bytes) = 0;
    // The whole body has arrived; the reply to send.
    virtual HttpResponse finish() = 0;
    // The exchange is over; delivered is true only when the reply was sent whole.
    virtual void closed(bool delivered) { (void)delivered; }
};

// What a route answers once a request's headers are in: a reply now, or a body
// reader (then the reply comes from its finish()).
struct HttpAnswer
{
    HttpResponse response;
    std::unique_ptr<HttpBody> body;
};

// HTTP/1.1 (and HTTPS) on libmicrohttpd's event loop: a few threads serve every
// connection, so slow or silent clients cost a little memory and no thread.
// It adds what the library leaves to us: a total deadline for a request's
// headers, a minimum rate for bodies, strict body framing, a bounded stop.
class HttpServer
{
public:
    struct Limits
    {
        int idleSeconds = 30;         // no byte either way for this long: closed
        int headerSeconds = 10;       // connect to end of headers, in total
        int rateWindowSeconds = 30;   // a body must bring ...
        double minBytesPerSecond = 1024; // ... at least this much per window
        std::size_t connectionMemory = 64 * 1024; // headers must fit in here
        std::size_t maxHeaders = 100;
        unsigned maxConnections = 4000;
        unsigned threads = 4;
    };
    using Handler = std::function<HttpAnswer(const HttpRequest &)>;
    using Logger = std::function<void(const std::string &)>;

    HttpServer(Handler handler, Logger logger);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Binds host:port (port 0: the system picks); false with a reason.
    bool bind(const std::string &host, int port, std::string &error);
    int port() const { return m_port; }
    // Starts serving; certPem/keyPem non-empty for HTTPS.
    bool start(const Limits &limits, const std::string &certPem, const std::string &keyPem,
               std::string &error);
    // Stops accepting; requests with a body in progress get up to grace to end,
    // then every connection is closed.
    void shutdown(std::chrono::milliseconds grace);

    // Requests with a body still being received or answered.
    int bodiesInProgress() const { return m_bodies.load(); }
    // Open connections.
    std::size_t connections();

    static std::string errorReplyText(int status);

private:
    struct Connection;
    struct Exchange;

    struct Callbacks; // the library's C callbacks
    friend struct Callbacks;

    bool handle(Exchange &exchange, const char *url, const char *method, const char *data,
                std::size_t *size);
    bool queue(Exchange &exchange, HttpResponse response);
    void finishExchange(Exchange *exchange, bool delivered, int reason);
    void watchLoop();

    Handler m_handler;
    Logger m_logger;
    Limits m_limits;
    int m_listenFd = -1;
    int m_port = 0;
    MHD_Daemon *m_daemon = nullptr;
    std::atomic<int> m_bodies{0};

    std::mutex m_mutex; // guards m_connections and the watcher's stop flag
    std::condition_variable m_wake;
    std::unordered_map<MHD_Connection *, Connection *> m_connections;
    bool m_stopWatching = false;
    std::thread m_watcher;
};
