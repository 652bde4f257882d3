#pragma once

#include <string>
#include <string_view>

// Salted, slow password hashes for protected uploads. The stored form is
// "pbkdf2-sha256$<iterations>$<salt>$<hash>" (salt and hash in base64url), so
// the plain password never reaches the disk.
class PasswordHash
{
public:
    static constexpr int defaultIterations = 120000;

    static std::string create(std::string_view password, int iterations = defaultIterations);
    // Constant-time comparison; a malformed stored value never matches.
    static bool verify(std::string_view password, std::string_view stored);
};
