#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

// Limits password guesses with two token buckets: one per client address (an
// IPv6 client counts by its /64) and one per upload, shared by everyone. A
// guess needs a token from both. The per-upload bucket refills quickly enough
// that an attacker slows the owner down by seconds, never locks them out.
class GuessThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    struct Rule
    {
        double burst;          // guesses allowed at once
        double secondsPerGuess; // refill: one guess per this many seconds
    };
    static constexpr Rule perAddress{5, 10};
    static constexpr Rule perUpload{20, 3};
    // Buckets kept at most; full buckets are forgotten first.
    static constexpr std::size_t maxBuckets = 20000;

    // 0 when the guess may be checked now (its tokens are taken); otherwise the
    // whole seconds to wait, for Retry-After.
    int take(const std::string &address, const std::string &uploadId,
             Clock::time_point now = Clock::now());

    // The key an address is counted under.
    static std::string addressKey(const std::string &address);

private:
    struct Bucket
    {
        double tokens = 0;
        Clock::time_point updated;
    };
    static double refill(Bucket &bucket, const Rule &rule, Clock::time_point now);
    void forgetFull(Clock::time_point now);

    std::mutex m_mutex;
    std::unordered_map<std::string, Bucket> m_addresses;
    std::unordered_map<std::string, Bucket> m_uploads;
};
