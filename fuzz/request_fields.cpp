// Cookies and small form bodies. Any input: a cookie value never holds ';' nor
// surrounding white space, a name with '=' or ';' matches nothing, and
// answers do not depend on other headers after the first match. Values
// written as a browser writes them read back unchanged.
#include "RequestFields.h"
#include "TextEncoding.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void anyCookies(FuzzedDataProvider &input)
{
    std::vector<std::string> headers;
    const int count = input.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < count; ++i)
        headers.push_back(input.ConsumeRandomLengthString(64));
    const std::string name = input.ConsumeRandomLengthString(16);
    const std::string value = RequestFields::cookieValue(headers, name);
    check(value.find(';') == std::string::npos);
    check(value.empty() || (!isBlank(value.front()) && !isBlank(value.back())));
    if (name.find_first_of("=;") != std::string::npos)
        check(value.empty());
    // A later header never changes what an earlier one answered.
    if (!value.empty()) {
        headers.push_back(name + "=other");
        check(RequestFields::cookieValue(headers, name) == value);
    }
}

// RFC 6265 cookie names (tokens) and values (cookie-octets).
std::string cookieText(FuzzedDataProvider &input, bool isName)
{
    static const char token[] = "abcXYZ019!#$%&'*+-.^_`|~";
    static const char octet[] = "abcXYZ019!#$%&'()*+-./:<=>?@[]^_`{|}~";
    const char *chars = isName ? token : octet;
    const size_t n = isName ? sizeof token - 1 : sizeof octet - 1;
    std::string out;
    const size_t length = input.ConsumeIntegralInRange<size_t>(isName ? 1 : 0, 12);
    for (size_t i = 0; i < length; ++i)
        out += chars[input.ConsumeIntegralInRange<size_t>(0, n - 1)];
    return out;
}

void writtenCookies(FuzzedDataProvider &input)
{
    std::vector<std::string> headers;
    std::vector<std::pair<std::string, std::string>> pairs;
    const int count = input.ConsumeIntegralInRange(1, 3);
    for (int h = 0; h < count; ++h) {
        std::string header;
        const int cookies = input.ConsumeIntegralInRange(1, 4);
        for (int i = 0; i < cookies; ++i) {
            const std::string name = cookieText(input, true);
            const std::string value = cookieText(input, false);
            header += (i ? "; " : "") + name + "=" + value;
            pairs.emplace_back(name, value);
        }
        headers.push_back(header);
    }
    const std::string wanted = input.ConsumeBool() ? pairs.at(input.ConsumeIntegralInRange<size_t>(0, pairs.size() - 1)).first
                                                   : cookieText(input, true);
    std::string expected;
    for (const auto &[name, value] : pairs) {
        if (name == wanted) {
            expected = value;
            break;
        }
    }
    check(RequestFields::cookieValue(headers, wanted) == expected);
}

void anyForm(FuzzedDataProvider &input)
{
    const std::string name = input.ConsumeRandomLengthString(16);
    const std::string body = input.ConsumeRemainingBytesAsString();
    const std::string value = RequestFields::formField(body, name);
    check(RequestFields::formField(body, name) == value);
    // Fields after the one found do not matter; a field in front with another name neither.
    if (!value.empty()) {
        check(RequestFields::formField(body + "&" + TextEncoding::percentEncode(name) + "=x", name) ==
              value);
        check(RequestFields::formField(TextEncoding::percentEncode(name + "~") + "=y&" + body,
                                       name) == value);
    }
}

void writtenForm(FuzzedDataProvider &input)
{
    std::vector<std::pair<std::string, std::string>> fields;
    std::string body;
    const int count = input.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < count; ++i) {
        const std::string name = input.ConsumeRandomLengthString(12);
        const std::string value = input.ConsumeRandomLengthString(24);
        body += (i ? "&" : "") + TextEncoding::percentEncode(name) + "=" +
                TextEncoding::percentEncode(value);
        fields.emplace_back(name, value);
    }
    const std::string wanted = !fields.empty() && input.ConsumeBool()
                                   ? fields.at(input.ConsumeIntegralInRange<size_t>(0, fields.size() - 1)).first
                                   : input.ConsumeRandomLengthString(12);
    std::string expected;
    for (const auto &[name, value] : fields) {
        if (name == wanted) {
            expected = value;
            break;
        }
    }
    check(RequestFields::formField(body, wanted) == expected);
    // Spaces may come as '+'.
    std::string plus;
    for (const char c : body)
        plus += c;
    for (size_t at = plus.find("%20"); at != std::string::npos; at = plus.find("%20", at + 1))
        plus.replace(at, 3, "+");
    check(RequestFields::formField(plus, wanted) == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
        anyCookies(input);
        break;
    case 1:
        writtenCookies(input);
        break;
    case 2:
        anyForm(input);
        break;
    default:
        writtenForm(input);
        break;
    }
    return 0;
}
