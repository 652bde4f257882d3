#include "RequestFields.h"

#include "HeaderText.h"
#include "TextEncoding.h"

namespace RequestFields {

std::string cookieValue(const std::vector<std::string> &cookieHeaders, std::string_view name)
{
    for (const auto &header : cookieHeaders) {
        const std::string_view text(header);
        std::size_t start = 0;
        while (start < text.size()) {
            auto end = text.find(';', start);
            if (end == std::string_view::npos) {
                end = text.size();
            }
            const auto pair = HeaderText::trim(text.substr(start, end - start));
            const auto eq = pair.find('=');
            if (eq != std::string_view::npos && HeaderText::trim(pair.substr(0, eq)) == name) {
                return std::string(HeaderText::trim(pair.substr(eq + 1)));
            }
            start = end + 1;
        }
    }
    return {};
}

std::string formField(std::string_view body, std::string_view name)
{
    std::size_t start = 0;
    while (start <= body.size()) {
        auto end = body.find('&', start);
        if (end == std::string_view::npos) {
            end = body.size();
        }
        const auto pair = body.substr(start, end - start);
        const auto eq = pair.find('=');
        if (TextEncoding::formUrlDecode(pair.substr(0, eq)) == name) {
            return eq == std::string_view::npos ? std::string()
                                                : TextEncoding::formUrlDecode(pair.substr(eq + 1));
        }
        start = end + 1;
    }
    return {};
}

} // namespace RequestFields
