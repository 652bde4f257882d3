#include "RandomToken.h"

#include "TextEncoding.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>

std::string RandomToken::bytes(std::size_t n)
{
    std::string out(n, '\0');
    std::size_t filled = 0;
    while (filled < n) {
        const ssize_t got = getrandom(out.data() + filled, n - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("getrandom failed");
        }
        filled += static_cast<std::size_t>(got);
    }
    return out;
}

std::string RandomToken::identifier()
{
    return TextEncoding::base64Url(bytes(16));
}

bool RandomToken::isIdentifier(std::string_view text)
{
    if (text.size() != 22) {
        return false;
    }
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> RandomToken::fromBase64Url(std::string_view text)
{
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '-') {
            v = 62;
        } else if (c == '_') {
            v = 63;
        } else {
            return std::nullopt;
        }
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}
