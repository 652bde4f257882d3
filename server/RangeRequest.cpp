#include "RangeRequest.h"

#include "HeaderText.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr std::size_t maxRanges = 64;

// Digits only; values beyond 64 bits saturate (they are past any file's end).
std::optional<std::uint64_t> number(std::string_view text)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            value = std::numeric_limits<std::uint64_t>::max();
        } else {
            value = value * 10 + digit;
        }
    }
    return value;
}

} // namespace

RangeRequest RangeRequest::parse(std::string_view header, std::uint64_t size)
{
    const RangeRequest whole;
    header = HeaderText::trim(header);
    const auto equals = header.find('=');
    if (equals == std::string_view::npos ||
        HeaderText::lower(HeaderText::trim(header.substr(0, equals))) != "bytes") {
        return whole;
    }
    const auto requested = HeaderText::splitList(header.substr(equals + 1));
    if (requested.empty() || requested.size() > maxRanges) {
        return whole;
    }
    struct Span
    {
        std::uint64_t first;
        std::uint64_t last;
    };
    std::vector<Span> spans;
    for (const auto &item : requested) {
        const auto dash = item.find('-');
        if (dash == std::string::npos) {
            return whole;
        }
        const std::string_view text(item);
        const auto from = HeaderText::trim(text.substr(0, dash));
        const auto to = HeaderText::trim(text.substr(dash + 1));
        if (from.empty()) {
            const auto suffix = number(to);
            if (!suffix) {
                return whole;
            }
            if (*suffix > 0 && size > 0) {
                spans.push_back({size - std::min(*suffix, size), size - 1});
            }
            continue;
        }
        const auto first = number(from);
        const auto last = to.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : number(to);
        if (!first || !last || *last < *first) {
            return whole;
        }
        if (*first < size) {
            spans.push_back({*first, std::min(*last, size - 1)});
        }
    }
    if (spans.empty()) {
        return {Kind::Unsatisfiable, 0, 0};
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span &a, const Span &b) { return a.first < b.first; });
    Span merged = spans.front();
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first > merged.last + 1) {
            return whole;
        }
        merged.last = std::max(merged.last, spans[i].last);
    }
    return {Kind::Partial, merged.first, merged.last};
}
