#include "PasswordHash.h"

#include "RandomToken.h"
#include "TextEncoding.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <charconv>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::string_view scheme = "pbkdf2-sha256";
constexpr std::size_t hashLength = 32;

std::string derive(std::string_view password, std::string_view salt, int iterations)
{
    std::array<unsigned char, hashLength> out{};
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(out.size()), out.data()) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return std::string(reinterpret_cast<const char *>(out.data()), out.size());
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t pos = text.find(separator, start);
        parts.push_back(text.substr(start, pos - start));
        if (pos == std::string_view::npos) {
            break;
        }
        start = pos + 1;
    }
    return parts;
}

} // namespace

std::string PasswordHash::create(std::string_view password, int iterations)
{
    const std::string salt = RandomToken::bytes(16);
    return std::string(scheme) + "$" + std::to_string(iterations) + "$" +
           TextEncoding::base64Url(salt) + "$" +
           TextEncoding::base64Url(derive(password, salt, iterations));
}

bool PasswordHash::verify(std::string_view password, std::string_view stored)
{
    const auto parts = split(stored, '$');
    if (parts.size() != 4 || parts[0] != scheme) {
        return false;
    }
    int iterations = 0;
    const auto [end, ec] =
        std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), iterations);
    if (ec != std::errc() || end != parts[1].data() + parts[1].size() || iterations < 1 ||
        iterations > 10000000) {
        return false;
    }
    const auto salt = RandomToken::fromBase64Url(parts[2]);
    if (!salt) {
        return false;
    }
    const std::string expected(parts[3]);
    const std::string actual = TextEncoding::base64Url(derive(password, *salt, iterations));
    return expected.size() == actual.size() &&
           CRYPTO_memcmp(expected.data(), actual.data(), actual.size()) == 0;
}
