#include "AccessTokens.h"

#include "RequestFields.h"
#include "TextEncoding.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>

namespace {

std::string cookieName(const UploadRecord &record)
{
    return "pelkin_" + record.id;
}

} // namespace

AccessTokens::AccessTokens(const std::string &secret)
    : m_secret(secret)
{}

std::string AccessTokens::token(const UploadRecord &record) const
{
    const std::string message = record.id + "\n" + record.passwordHash;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), m_secret.data(), static_cast<int>(m_secret.size()),
         reinterpret_cast<const unsigned char *>(message.data()), message.size(), digest, &length);
    return TextEncoding::base64Url(std::string(reinterpret_cast<char *>(digest), length));
}

bool AccessTokens::hasAccess(const std::vector<std::string> &cookieHeaders,
                             const UploadRecord &record) const
{
    if (!record.isProtected()) {
        return true;
    }
    const std::string presented = RequestFields::cookieValue(cookieHeaders, cookieName(record));
    const std::string expected = token(record);
    return presented.size() == expected.size() &&
           CRYPTO_memcmp(presented.data(), expected.data(), expected.size()) == 0;
}

std::string AccessTokens::setCookie(const UploadRecord &record, std::int64_t now, bool secure) const
{
    const std::int64_t maxAge = std::max<std::int64_t>(1, record.expiresAt - now);
    return cookieName(record) + "=" + token(record) + "; Path=/; Max-Age=" +
           std::to_string(maxAge) + "; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : "");
}
