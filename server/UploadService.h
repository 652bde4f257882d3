#pragma once

#include "ServerOptions.h"
#include "UploadStore.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
class ContentReader;
struct Request;
struct Response;
} // namespace httplib

// The HTTP side of the service: the upload endpoint, share pages, downloads, the
// request log and the periodic purge of expired uploads.
class UploadService
{
public:
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
    void installRoutes();
    bool rejectBeforeBody(const httplib::Request &req, httplib::Response &res);
    void handleUpload(const httplib::Request &req, httplib::Response &res,
                      const httplib::ContentReader &reader);
    void handlePassword(const httplib::Request &req, httplib::Response &res);
    void handleSharePage(const httplib::Request &req, httplib::Response &res);
    void handleDownload(const httplib::Request &req, httplib::Response &res);

    std::string publicBase() const;
    std::string accessToken(const UploadRecord &record) const;
    bool hasAccess(const httplib::Request &req, const UploadRecord &record) const;
    std::uint64_t requestOverhead() const;
    void purgeLoop();
    void logLine(const std::string &line);

    ServerOptions m_options;
    UploadStore m_store;
    std::unique_ptr<httplib::Server> m_server;
    std::string m_listeningUrl;
    std::int64_t m_expirySeconds = 0;

    std::thread m_purgeThread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::atomic<bool> m_listenEnded{false};
    std::mutex m_logMutex;
};
