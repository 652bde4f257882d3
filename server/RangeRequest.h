#pragma once

#include <cstdint>
#include <string_view>

// The Range header of a download, read as RFC 9110 describes for one
// representation of a known size. Several ranges that do not merge into one are
// answered with the whole file, which the RFC allows.
struct RangeRequest
{
    enum class Kind { Whole, Partial, Unsatisfiable };

    Kind kind = Kind::Whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0; // inclusive

    std::uint64_t length() const { return last - first + 1; }

    // An absent, malformed or non-byte Range is Whole (the header is ignored).
    static RangeRequest parse(std::string_view header, std::uint64_t size);
};
