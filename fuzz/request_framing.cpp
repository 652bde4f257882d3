// How a request's body is delimited. A length is accepted only when every
// Content-Length item is plain digits naming the same value that fits in 64
// bits, and never with Transfer-Encoding; chunked is accepted only alone; no
// headers of either kind mean no body; the order of headers changes nothing.
#include "RequestFraming.h"

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

using Headers = std::vector<std::pair<std::string, std::string>>;

std::string lower(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> items(const std::string &value)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = std::min(value.find(',', start), value.size());
        const std::string item = trimmed(value.substr(start, end - start));
        if (!item.empty())
            out.push_back(item);
        start = end + 1;
    }
    return out;
}

// Digits without leading zeros, compared as text so that no length overflows here.
std::string canonical(const std::string &digits)
{
    const auto nonZero = digits.find_first_not_of('0');
    return nonZero == std::string::npos ? "0" : digits.substr(nonZero);
}

bool same(const RequestFraming &a, const RequestFraming &b)
{
    return a.refusal == b.refusal &&
           (a.refusal != 0 || (a.body == b.body && a.length == b.length));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    Headers headers;
    const int count = input.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) {
        std::string name = input.PickValueInArray(
            {"Content-Length", "content-length", "CONTENT-LENGTH", "Transfer-Encoding",
             "transfer-encoding", "Host", "Content-Length ", "X"});
        std::string value;
        if (input.ConsumeBool())
            value = input.PickValueInArray({"0", "5", "05", "5, 5", "chunked", "Chunked",
                                            "gzip, chunked", "", " ", "18446744073709551615",
                                            "18446744073709551616", "99999999999999999999",
                                            "-1", "+5", "0x10", "5,", ",", "chunked, chunked"});
        else
            value = input.ConsumeRandomLengthString(32);
        headers.emplace_back(std::move(name), std::move(value));
    }

    const RequestFraming framing = RequestFraming::of(headers);
    check(framing.refusal == 0 || framing.refusal == 400 || framing.refusal == 501);

    bool anyLength = false;
    bool anyCoding = false;
    std::vector<std::string> lengths;
    std::vector<std::string> codings;
    for (const auto &[name, value] : headers) {
        if (lower(name) == "content-length") {
            anyLength = true;
            const auto list = items(value);
            lengths.insert(lengths.end(), list.begin(), list.end());
        } else if (lower(name) == "transfer-encoding") {
            anyCoding = true;
            for (const auto &item : items(value))
                codings.push_back(lower(item));
        }
    }

    if (framing.refusal == 0) {
        check(!(anyLength && anyCoding));
        switch (framing.body) {
        case RequestFraming::Body::None:
            check(!anyLength && !anyCoding);
            break;
        case RequestFraming::Body::Length:
            check(anyLength && !lengths.empty());
            for (const std::string &item : lengths) {
                check(item.find_first_not_of("0123456789") == std::string::npos);
                check(canonical(item) == std::to_string(framing.length));
            }
            break;
        case RequestFraming::Body::Chunked:
            check(!anyLength && codings.size() == 1 && codings.front() == "chunked");
            break;
        }
    }
    // Lengths that disagree, or a length beside a transfer coding, are refused.
    bool disagree = false;
    for (const std::string &item : lengths)
        disagree = disagree || item.find_first_not_of("0123456789") != std::string::npos ||
                   canonical(item) != canonical(lengths.front());
    if (disagree || (anyLength && anyCoding))
        check(framing.refusal == 400);
    // So is a header of either kind that names nothing.
    for (const auto &[name, value] : headers) {
        const std::string key = lower(name);
        if ((key == "content-length" || key == "transfer-encoding") && items(value).empty())
            check(framing.refusal == 400);
    }

    Headers reversed(headers.rbegin(), headers.rend());
    check(same(RequestFraming::of(reversed), framing));
    return 0;
}
