#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// How a request's body is delimited, decided from all of its headers before any
// of the body is read. Anything ambiguous is refused: a front proxy and this
// service must never disagree about where a request ends.
struct RequestFraming
{
    enum class Body { None, Length, Chunked };

    Body body = Body::None;
    std::uint64_t length = 0;
    // 0 when acceptable; otherwise the status to refuse the request with
    // (400 conflicting or malformed lengths, 501 a transfer coding we do not know).
    int refusal = 0;

    static RequestFraming of(const std::vector<std::pair<std::string, std::string>> &headers);
};
