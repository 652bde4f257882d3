#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Pieces of HTTP and MIME header syntax shared by the request parsers. Pure text
// functions: nothing here touches the network.
namespace HeaderText {

std::string lower(std::string_view text);
std::string_view trim(std::string_view text);

// `type/sub; a=1; b="x;y"` as {"", "type/sub"}, {"a", "1"}, {"b", "x;y"}: the
// first entry has an empty key. Quoted values lose their quotes, not their
// spaces; inside them a backslash-escaped quote is a quote unless it ends the
// value (browsers write %22 instead, kept as it is, and leave a name's trailing
// backslash bare).
std::vector<std::pair<std::string, std::string>> splitParameters(std::string_view value);

// "Name: value" lines separated by CRLF; continuation lines join the previous
// value. A line without a colon comes out with an empty name.
std::vector<std::pair<std::string, std::string>> splitHeaderLines(std::string_view block);

// Splits a comma-separated header value into trimmed, non-empty items.
std::vector<std::string> splitList(std::string_view value);

} // namespace HeaderText
