// The Range header of a download. Any header: a partial answer lies within
// the file and is never empty; the unit and white space around items do not
// matter. Well-formed ranges built from the input: the answer is the one
// RFC 9110 gives (206 for ranges that join into one, 416 when none overlaps
// the file, the whole file for ranges that stay apart).
#include "RangeRequest.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

bool same(const RangeRequest &a, const RangeRequest &b)
{
    return a.kind == b.kind && a.first == b.first && a.last == b.last;
}

uint64_t anySize(FuzzedDataProvider &input)
{
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return input.ConsumeIntegralInRange<uint64_t>(0, 16);
    case 1:
        return input.ConsumeIntegralInRange<uint64_t>(0, 1 << 20);
    case 2:
        return UINT64_MAX - input.ConsumeIntegralInRange<uint64_t>(0, 4);
    default:
        return input.ConsumeIntegral<uint64_t>();
    }
}

void checkSound(const RangeRequest &range, uint64_t size)
{
    if (range.kind == RangeRequest::Kind::Partial) {
        check(range.first <= range.last && range.last < size);
        check(range.length() >= 1 && range.length() <= size);
    }
}

void anyHeader(FuzzedDataProvider &input)
{
    const uint64_t size = anySize(input);
    const std::string header = input.ConsumeRemainingBytesAsString();
    const RangeRequest range = RangeRequest::parse(header, size);
    checkSound(range, size);
    check(same(RangeRequest::parse(header, size), range));
    // The unit is case-insensitive, spaces around items are allowed.
    std::string upper = header;
    const auto eq = upper.find('=');
    for (size_t i = 0; i < eq && i < upper.size(); ++i)
        upper[i] = char(std::toupper(static_cast<unsigned char>(upper[i])));
    check(same(RangeRequest::parse(upper, size), range));
    std::string spaced;
    for (const char c : header)
        spaced += c == ',' ? std::string(" \t, ") : std::string(1, c);
    check(same(RangeRequest::parse(" " + spaced + "\t", size), range));
    if (header.find('=') == std::string::npos)
        check(range.kind == RangeRequest::Kind::Whole);
}

struct Span
{
    uint64_t first;
    uint64_t last;
};

uint64_t anyOffset(FuzzedDataProvider &input, uint64_t size)
{
    if (input.ConsumeBool())
        return input.ConsumeIntegralInRange<uint64_t>(0, size < UINT64_MAX - 2 ? size + 2 : size);
    return input.ConsumeIntegral<uint64_t>();
}

void wellFormed(FuzzedDataProvider &input)
{
    const uint64_t size = anySize(input);
    const int count = input.ConsumeIntegralInRange(1, 6);
    std::string header = "bytes=";
    std::vector<Span> spans; // the satisfiable part of each range
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            header += ",";
        const int form = input.ConsumeIntegralInRange(0, 2);
        if (form == 0) { // -suffix
            const uint64_t suffix = anyOffset(input, size);
            header += "-" + std::to_string(suffix);
            if (suffix > 0 && size > 0)
                spans.push_back({size - std::min(suffix, size), size - 1});
        } else {
            uint64_t first = anyOffset(input, size);
            uint64_t last = anyOffset(input, size);
            if (last < first)
                std::swap(first, last);
            header += std::to_string(first) + "-";
            if (form == 1)
                header += std::to_string(last);
            else
                last = UINT64_MAX;
            if (first < size)
                spans.push_back({first, std::min(last, size - 1)});
        }
    }
    const RangeRequest range = RangeRequest::parse(header, size);
    checkSound(range, size);
    if (spans.empty()) {
        check(range.kind == RangeRequest::Kind::Unsatisfiable);
        return;
    }
    // Do the spans join (overlapping or adjacent) into one?
    std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.first < b.first; });
    Span joined = spans.front();
    bool one = true;
    for (const Span &span : spans) {
        if (span.first > joined.last && span.first - joined.last > 1)
            one = false;
        joined.last = std::max(joined.last, span.last);
    }
    if (one)
        check(range.kind == RangeRequest::Kind::Partial && range.first == joined.first &&
              range.last == joined.last);
    else
        check(range.kind == RangeRequest::Kind::Whole);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        wellFormed(input);
    else
        anyHeader(input);
    return 0;
}
