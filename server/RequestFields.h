#pragma once

#include <string>
#include <string_view>
#include <vector>

// Values the service reads out of request headers and small form bodies.
namespace RequestFields {

// The value of cookie `name` from any of the Cookie header values, or empty.
std::string cookieValue(const std::vector<std::string> &cookieHeaders, std::string_view name);

// The decoded value of field `name` in an application/x-www-form-urlencoded body,
// or empty when it is absent.
std::string formField(std::string_view body, std::string_view name);

} // namespace RequestFields
