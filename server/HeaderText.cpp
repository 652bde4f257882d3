#include "HeaderText.h"

namespace {

// Only blanks, then ';' or the end, from `at` on.
bool endsValue(std::string_view value, std::size_t at)
{
    const auto next = value.find_first_not_of(" \t", at);
    return next == std::string_view::npos || value[next] == ';';
}

} // namespace

namespace HeaderText {

std::string lower(std::string_view text)
{
    std::string out(text);
    for (auto &c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string_view trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::pair<std::string, std::string>> splitParameters(std::string_view value)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t i = 0;
    bool first = true;
    while (i <= value.size()) {
        std::string key;
        std::string item;
        bool quoted = false;
        bool wasQuoted = false;
        bool sawEquals = false;
        std::string raw;
        for (; i < value.size(); ++i) {
            const char c = value[i];
            if (quoted) {
                // Clients that escape with %22 leave a name's trailing backslash
                // bare, so `\"` before `;` or the end closes the value.
                if (c == '\\' && i + 1 < value.size() && value[i + 1] == '"' &&
                    !endsValue(value, i + 2)) {
                    raw += '"';
                    ++i;
                } else if (c == '"') {
                    quoted = false;
                    wasQuoted = true;
                } else {
                    raw += c;
                }
            } else if (c == ';') {
                break;
            } else if (wasQuoted && (c == ' ' || c == '\t')) {
                continue; // spaces inside the quotes are the value's, those after are not
            } else if (c == '"' && sawEquals) {
                quoted = true;
                raw = std::string(trim(raw));
            } else if (c == '=' && !sawEquals && !first) {
                sawEquals = true;
                key = std::string(trim(raw));
                raw.clear();
            } else {
                raw += c;
            }
        }
        item = quoted || wasQuoted ? raw : std::string(trim(raw));
        if (first) {
            out.emplace_back(std::string(), item);
        } else if (sawEquals) {
            out.emplace_back(key, item);
        } else if (!item.empty()) {
            out.emplace_back(item, std::string());
        }
        first = false;
        ++i;
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> splitHeaderLines(std::string_view block)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t start = 0;
    while (start < block.size()) {
        auto end = block.find("\r\n", start);
        if (end == std::string_view::npos) {
            end = block.size();
        }
        const std::string_view line = block.substr(start, end - start);
        start = end + 2;
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !out.empty()) {
            out.back().second += ' ';
            out.back().second += trim(line);
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            out.emplace_back(std::string(), std::string(line));
        } else {
            out.emplace_back(std::string(line.substr(0, colon)),
                             std::string(trim(line.substr(colon + 1))));
        }
    }
    return out;
}

std::vector<std::string> splitList(std::string_view value)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= value.size()) {
        auto end = value.find(',', start);
        if (end == std::string_view::npos) {
            end = value.size();
        }
        const auto item = trim(value.substr(start, end - start));
        if (!item.empty()) {
            out.emplace_back(item);
        }
        start = end + 1;
    }
    return out;
}

} // namespace HeaderText
