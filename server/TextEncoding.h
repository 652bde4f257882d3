#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Small text transformations the service needs at its edges: names arrive as
// arbitrary bytes and leave as HTML, JSON or HTTP header values.
namespace TextEncoding {

// Replaces every invalid UTF-8 sequence with U+FFFD, so the result can always be
// written as JSON.
std::string toValidUtf8(std::string_view bytes);

// Undoes the escaping browsers apply to multipart file names: %22, %0D and %0A
// (any case) become the quote, CR and LF; every other byte stays.
std::string decodeMultipartFileName(std::string_view name);

// Text for an HTML text node or attribute value. Control characters are shown as
// %XX so they stay visible instead of disappearing or breaking the layout; so are
// the invisible bidirectional controls (U+202E and its kin), which could make a
// name read differently from what it is.
std::string htmlEscape(std::string_view text);

// RFC 3986 percent-encoding of every byte outside the unreserved set.
std::string percentEncode(std::string_view bytes);

// Decodes an application/x-www-form-urlencoded value ('+' is a space).
std::string formUrlDecode(std::string_view text);

// A complete Content-Disposition value for downloading a file under its original
// name: an ASCII fallback plus the exact UTF-8 name (RFC 5987/6266).
std::string contentDispositionAttachment(std::string_view fileName);

// Base64url without padding.
std::string base64Url(std::string_view bytes);

// "1.5 MB" style sizes with decimal units, as file managers show them.
std::string formatSize(std::uint64_t bytes);

// ISO 8601 UTC with whole seconds and "Z".
std::string isoUtc(std::int64_t unixSeconds);
// UTC time in a strftime pattern.
std::string formatUtc(std::int64_t unixSeconds, const char *pattern);

} // namespace TextEncoding
