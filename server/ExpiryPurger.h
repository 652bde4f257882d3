#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class UploadStore;

// Removes expired uploads at start and then periodically, on a thread of its own.
class ExpiryPurger
{
public:
    using Logger = std::function<void(const std::string &)>;

    ExpiryPurger(UploadStore &store, std::int64_t expirySeconds, Logger logger);
    ~ExpiryPurger();
    ExpiryPurger(const ExpiryPurger &) = delete;
    ExpiryPurger &operator=(const ExpiryPurger &) = delete;

    // One purge now, then a quarter of the expiry time apart (1 s to 10 min).
    void start();
    void stop();

private:
    void purgeOnce();

    UploadStore &m_store;
    std::int64_t m_expirySeconds;
    Logger m_logger;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};
