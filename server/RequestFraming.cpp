#include "RequestFraming.h"

#include "HeaderText.h"

#include <charconv>

namespace {

bool parseLength(const std::string &text, std::uint64_t &value)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

} // namespace

RequestFraming RequestFraming::of(const std::vector<std::pair<std::string, std::string>> &headers)
{
    RequestFraming framing;
    bool hasLength = false;
    std::vector<std::string> codings;
    for (const auto &[name, value] : headers) {
        const std::string key = HeaderText::lower(name);
        if (key == "content-length") {
            // "5, 5" and repeated equal headers are one length; anything else is not.
            const auto items = HeaderText::splitList(value);
            if (items.empty()) {
                framing.refusal = 400;
                return framing;
            }
            for (const auto &item : items) {
                std::uint64_t length = 0;
                if (!parseLength(item, length) || (hasLength && length != framing.length)) {
                    framing.refusal = 400;
                    return framing;
                }
                framing.length = length;
                hasLength = true;
            }
        } else if (key == "transfer-encoding") {
            // "," names no coding, yet a proxy may still see a header there.
            const auto items = HeaderText::splitList(value);
            for (const auto &item : items) {
                codings.push_back(HeaderText::lower(item));
            }
            if (items.empty()) {
                framing.refusal = 400;
                return framing;
            }
        }
    }
    if (!codings.empty()) {
        if (hasLength) {
            framing.refusal = 400;
        } else if (codings.size() != 1 || codings.front() != "chunked") {
            framing.refusal = 501;
        } else {
            framing.body = Body::Chunked;
        }
        return framing;
    }
    if (hasLength) {
        framing.body = Body::Length;
    }
    return framing;
}
