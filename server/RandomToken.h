#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Unguessable identifiers and secrets from the operating system's random source.
class RandomToken
{
public:
    // n random bytes; throws when the system cannot provide them.
    static std::string bytes(std::size_t n);
    // 128 random bits as 22 URL-safe characters.
    static std::string identifier();
    // True for strings identifier() can produce; anything else is refused before
    // it gets near the file system.
    static bool isIdentifier(std::string_view text);
    static std::optional<std::string> fromBase64Url(std::string_view text);
};
