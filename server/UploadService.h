#pragma once

#include "GuessThrottle.h"
#include "HttpServer.h"
#include "ServerOptions.h"
#include "UploadStore.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class AccessTokens;
class ExpiryPurger;

// The service's routes: the upload endpoint, share pages with their password
// form, downloads with ranges; and its life: start, serve, stop with a grace
// period for uploads in progress.
class UploadService
{
public:
    // After SIGTERM, uploads in progress get this long to finish.
    static constexpr std::chrono::seconds shutdownGrace{10};

    explicit UploadService(ServerOptions options);
    ~UploadService();
    UploadService(const UploadService &) = delete;
    UploadService &operator=(const UploadService &) = delete;

    // Opens the data folder, purges expired uploads and binds the socket.
    bool start(std::string &error);
    // "http://127.0.0.1:8787" (https with TLS); valid after start().
    const std::string &listeningUrl() const { return m_listeningUrl; }
    // Serves until stop(); false when the server failed.
    bool run();
    // Thread-safe; may be called before or while run() runs.
    void stop();

private:
    HttpAnswer route(const HttpRequest &request);
    HttpAnswer dispatch(const HttpRequest &request);
    HttpAnswer startUpload(const HttpRequest &request);
    HttpAnswer startPasswordForm(const HttpRequest &request, const std::string &id);
    HttpResponse passwordAnswer(const HttpRequest &request, const std::string &id,
                                const std::string &form);
    HttpResponse sharePage(const HttpRequest &request, const std::string &id);
    HttpResponse download(const HttpRequest &request, const std::string &id,
                          std::optional<std::size_t> index);

    std::string publicBase() const;
    void logLine(const std::string &line);

    ServerOptions m_options;
    UploadStore m_store;
    GuessThrottle m_throttle;
    std::unique_ptr<AccessTokens> m_tokens;
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<ExpiryPurger> m_purger;
    std::string m_listeningUrl;
    std::int64_t m_expirySeconds = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::mutex m_logMutex;
};
