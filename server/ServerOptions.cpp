#include "ServerOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

bool parseUnsigned(const std::string &text, std::uint64_t &value)
{
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

bool parseListen(const std::string &text, ServerOptions &options)
{
    std::string host;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) {
            return false;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    std::uint64_t number = 0;
    if (host.empty() || !parseUnsigned(port, number) || number > 65535) {
        return false;
    }
    options.host = host;
    options.port = static_cast<int>(number);
    return true;
}

bool isHttpUrl(const std::string &url)
{
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return false;
    }
    const std::string scheme = url.substr(0, schemeEnd);
    return (scheme == "http" || scheme == "https") && url.size() > schemeEnd + 3 &&
           url.find_first_of("?# \t\r\n\"<>") == std::string::npos;
}

} // namespace

std::filesystem::path ServerOptions::defaultDataDir()
{
    if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        return std::filesystem::path(xdg) / "pelkin-upload-server";
    }
    const char *home = std::getenv("HOME");
    return std::filesystem::path(home && home[0] ? home : ".") / ".local" / "share" /
           "pelkin-upload-server";
}

std::string ServerOptions::usage()
{
    return "Usage: pelkin-upload-server [options]\n"
           "  --listen HOST:PORT   address to listen on (default 127.0.0.1:8787; port 0 picks "
           "one)\n"
           "  --data DIR           data folder (default $XDG_DATA_HOME/pelkin-upload-server)\n"
           "  --public-url URL     base URL of share links (default: the listening URL)\n"
           "  --max-bytes N        largest total size of one upload in bytes (default " +
           std::to_string(defaultMaxBytes) +
           ")\n"
           "  --max-files N        most files in one upload (default 100)\n"
           "  --expire-days D      days until an upload is removed (default 7, fractions allowed)\n"
           "  --timeout SECONDS    network read/write time-out (default 30)\n"
           "  --cert FILE --key FILE  serve HTTPS with this PEM certificate and key\n"
           "  --help               show this text\n";
}

std::optional<ServerOptions> ServerOptions::parse(const std::vector<std::string> &args,
                                                  std::string &error)
{
    ServerOptions options;
    options.dataDir = defaultDataDir();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &name = args[i];
        if (name == "--help" || name == "-h") {
            options.helpRequested = true;
            return options;
        }
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument '" + name + "'";
            return std::nullopt;
        }
        static const std::vector<std::string> known = {
            "--listen",      "--data",    "--public-url", "--max-bytes", "--max-files",
            "--expire-days", "--timeout", "--cert",       "--key"};
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            error = "option " + name + " needs a value";
            return std::nullopt;
        }
        const std::string &value = args[++i];
        std::uint64_t number = 0;
        if (name == "--listen") {
            if (!parseListen(value, options)) {
                error =
                    "--listen expects HOST:PORT (for example 127.0.0.1:8787), not '" + value + "'";
                return std::nullopt;
            }
        } else if (name == "--data") {
            if (value.empty()) {
                error = "--data needs a folder";
                return std::nullopt;
            }
            options.dataDir = std::filesystem::absolute(value);
        } else if (name == "--public-url") {
            if (!isHttpUrl(value)) {
                error = "--public-url expects an http:// or https:// URL, not '" + value + "'";
                return std::nullopt;
            }
            options.publicUrl = value;
            while (options.publicUrl.size() > 1 && options.publicUrl.back() == '/') {
                options.publicUrl.pop_back();
            }
        } else if (name == "--max-bytes") {
            if (!parseUnsigned(value, number) || number == 0 || number > (1ULL << 50)) {
                error = "--max-bytes expects a positive number of bytes, not '" + value + "'";
                return std::nullopt;
            }
            options.maxBytes = number;
        } else if (name == "--max-files") {
            if (!parseUnsigned(value, number) || number == 0 || number > 1000) {
                error = "--max-files expects a number from 1 to 1000, not '" + value + "'";
                return std::nullopt;
            }
            options.maxFiles = number;
        } else if (name == "--expire-days") {
            char *end = nullptr;
            const double days = std::strtod(value.c_str(), &end);
            if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(days) ||
                days <= 0 || days > 36500) {
                error = "--expire-days expects a positive number of days, not '" + value + "'";
                return std::nullopt;
            }
            options.expireDays = days;
        } else if (name == "--timeout") {
            if (!parseUnsigned(value, number) || number == 0 || number > 3600) {
                error = "--timeout expects seconds from 1 to 3600, not '" + value + "'";
                return std::nullopt;
            }
            options.timeoutSeconds = static_cast<int>(number);
        } else if (name == "--cert") {
            options.certFile = value;
        } else if (name == "--key") {
            options.keyFile = value;
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    if (options.certFile.empty() != options.keyFile.empty()) {
        error = "--cert and --key must be given together";
        return std::nullopt;
    }
    return options;
}
