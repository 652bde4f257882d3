#include "GuessThrottle.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>

double GuessThrottle::refill(Bucket &bucket, const Rule &rule, Clock::time_point now)
{
    const double elapsed = std::chrono::duration<double>(now - bucket.updated).count();
    bucket.tokens = std::min(rule.burst, bucket.tokens + std::max(0.0, elapsed) / rule.secondsPerGuess);
    bucket.updated = now;
    return bucket.tokens;
}

void GuessThrottle::forgetFull(Clock::time_point now)
{
    for (auto *map : {&m_addresses, &m_uploads}) {
        const Rule &rule = map == &m_addresses ? perAddress : perUpload;
        for (auto it = map->begin(); it != map->end();) {
            it = refill(it->second, rule, now) >= rule.burst ? map->erase(it) : std::next(it);
        }
    }
}

std::string GuessThrottle::addressKey(const std::string &address)
{
    in6_addr v6{};
    if (address.find(':') != std::string::npos && ::inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        // One subscriber usually has a whole /64.
        std::fill(v6.s6_addr + 8, v6.s6_addr + 16, 0);
        char text[INET6_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET6, &v6, text, sizeof text)) {
            return std::string(text) + "/64";
        }
    }
    return address;
}

int GuessThrottle::take(const std::string &address, const std::string &uploadId,
                        Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_addresses.size() + m_uploads.size() >= maxBuckets) {
        forgetFull(now);
    }
    const auto bucketFor = [now](std::unordered_map<std::string, Bucket> &map,
                                 const std::string &key, const Rule &rule) -> Bucket * {
        // When even full buckets cannot be forgotten, a newcomer starts empty
        // rather than the table growing without bound.
        const bool room = map.size() < maxBuckets;
        auto [it, added] = room ? map.try_emplace(key) : std::pair{map.find(key), false};
        if (it == map.end()) {
            return nullptr;
        }
        if (added) {
            it->second = {rule.burst, now};
        }
        return &it->second;
    };
    Bucket *byAddress = bucketFor(m_addresses, addressKey(address), perAddress);
    Bucket *byUpload = bucketFor(m_uploads, uploadId, perUpload);
    const double a = byAddress ? refill(*byAddress, perAddress, now) : 0;
    const double u = byUpload ? refill(*byUpload, perUpload, now) : 0;
    if (a >= 1 && u >= 1) {
        byAddress->tokens -= 1;
        byUpload->tokens -= 1;
        return 0;
    }
    const double wait = std::max(a >= 1 ? 0 : (1 - a) * perAddress.secondsPerGuess,
                                 u >= 1 ? 0 : (1 - u) * perUpload.secondsPerGuess);
    return std::max(1, static_cast<int>(std::ceil(wait)));
}
