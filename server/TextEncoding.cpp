#include "TextEncoding.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace TextEncoding {

namespace {

constexpr std::string_view replacementChar = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence starting at i, or 0 when it is invalid.
std::size_t validSequenceLength(std::string_view s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) {
        return 1;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) {
            lo = 0xA0; // overlong
        } else if (c == 0xED) {
            hi = 0x9F; // surrogates
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) {
            lo = 0x90;
        } else if (c == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    if (byte(i + 1) < lo || byte(i + 1) > hi) {
        return 0;
    }
    for (std::size_t k = 2; k < len; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return len;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void appendHexEscape(std::string &out, unsigned char c)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    out += '%';
    out += digits[c >> 4];
    out += digits[c & 0x0F];
}

bool isUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string toValidUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t len = validSequenceLength(bytes, i);
        if (len == 0) {
            out += replacementChar;
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

std::string decodeMultipartFileName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size()) {
            const int h = hexValue(name[i + 1]);
            const int l = hexValue(name[i + 2]);
            const int value = (h < 0 || l < 0) ? -1 : h * 16 + l;
            if (value == 0x22 || value == 0x0D || value == 0x0A) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

namespace {

// Length of the invisible direction control (LRM, RLM, ALM, embeddings,
// overrides, isolates) encoded at text[i], or 0.
std::size_t bidiControlLength(std::string_view text, std::size_t i)
{
    const auto at = [&](std::size_t k) {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    if (at(0) == 0xD8 && at(1) == 0x9C) {
        return 2; // U+061C
    }
    if (at(0) != 0xE2) {
        return 0;
    }
    const unsigned char b1 = at(1);
    const unsigned char b2 = at(2);
    if ((b1 == 0x80 && (b2 == 0x8E || b2 == 0x8F || (b2 >= 0xAA && b2 <= 0xAE))) ||
        (b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9)) {
        return 3; // U+200E-200F, U+202A-202E, U+2066-2069
    }
    return 0;
}

} // namespace

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                appendHexEscape(out, c);
            } else if (const auto length = bidiControlLength(text, i); length > 0) {
                // Shown, not obeyed: "txt.exe" must not pass for "exe.txt".
                for (std::size_t k = 0; k < length; ++k) {
                    appendHexEscape(out, static_cast<unsigned char>(text[i + k]));
                }
                i += length - 1;
            } else {
                out += ch;
            }
        }
    }
    return out;
}

std::string percentEncode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out += ch;
        } else {
            appendHexEscape(out, c);
        }
    }
    return out;
}

std::string formUrlDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string contentDispositionAttachment(std::string_view fileName)
{
    std::string fallback;
    for (const char ch : fileName) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) == 0x80) {
            continue; // one '_' per non-ASCII character, not per byte
        }
        const bool plain =
            c >= 0x20 && c < 0x7F && ch != '"' && ch != '\\' && ch != '/' && ch != '%' && ch != ';';
        fallback += plain ? ch : '_';
    }
    if (fallback.empty()) {
        fallback = "download";
    }
    return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" + percentEncode(fileName);
}

std::string base64Url(std::string_view bytes)
{
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const unsigned v = at(i) << 16;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
    } else if (rest == 2) {
        const unsigned v = (at(i) << 16) | (at(i + 1) << 8);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
    }
    return out;
}

std::string formatSize(std::uint64_t bytes)
{
    if (bytes < 1000) {
        return std::to_string(bytes) + " バイト";
    }
    static constexpr std::array<const char *, 5> units = {"KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < units.size()) {
        value /= 1000.0;
        ++unit;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return buffer;
}

std::string formatUtc(std::int64_t unixSeconds, const char *pattern)
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[64];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, pattern, &tm));
}

std::string isoUtc(std::int64_t unixSeconds)
{
    return formatUtc(unixSeconds, "%Y-%m-%dT%H:%M:%SZ");
}

} // namespace TextEncoding
