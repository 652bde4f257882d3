#pragma once

#include "UploadRecord.h"

#include <cstdint>
#include <string>
#include <vector>

// The cookies that open a protected upload once its password was given: an
// HMAC of the upload's identifier and password hash under the service's
// secret, valid for that upload only and until it expires.
class AccessTokens
{
public:
    explicit AccessTokens(const std::string &secret);

    std::string token(const UploadRecord &record) const;
    // True for unprotected uploads and for requests carrying the right cookie.
    bool hasAccess(const std::vector<std::string> &cookieHeaders, const UploadRecord &record) const;
    // The Set-Cookie value to send after the right password.
    std::string setCookie(const UploadRecord &record, std::int64_t now, bool secure) const;

private:
    const std::string &m_secret;
};
