#include "ExpiryPurger.h"

#include "UploadStore.h"

#include <algorithm>
#include <chrono>
#include <ctime>

ExpiryPurger::ExpiryPurger(UploadStore &store, std::int64_t expirySeconds, Logger logger)
    : m_store(store)
    , m_expirySeconds(expirySeconds)
    , m_logger(std::move(logger))
{}

ExpiryPurger::~ExpiryPurger()
{
    stop();
}

void ExpiryPurger::purgeOnce()
{
    const int purged = m_store.purgeExpired(static_cast<std::int64_t>(std::time(nullptr)));
    if (purged > 0) {
        m_logger("purged " + std::to_string(purged) + " expired upload(s)");
    }
}

void ExpiryPurger::start()
{
    purgeOnce();
    m_thread = std::thread([this] {
        const auto interval =
            std::chrono::seconds(std::clamp<std::int64_t>(m_expirySeconds / 4, 1, 600));
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, interval, [this] { return m_stopping; })) {
            lock.unlock();
            purgeOnce();
            lock.lock();
        }
    });
}

void ExpiryPurger::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}
