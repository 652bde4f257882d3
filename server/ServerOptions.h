#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Command-line configuration of pelkin-upload-server.
struct ServerOptions
{
    // A little above the client's own 1 GiB limit, so users normally meet the
    // client's message first.
    static constexpr std::uint64_t defaultMaxBytes = (1ULL << 30) + (16ULL << 20);

    std::string host = "127.0.0.1";
    int port = 8787;
    std::filesystem::path dataDir;
    std::string publicUrl; // empty: the listening URL
    std::uint64_t maxBytes = defaultMaxBytes;
    double expireDays = 7;
    std::size_t maxFiles = 100;
    int timeoutSeconds = 30;
    std::string certFile;
    std::string keyFile;
    bool helpRequested = false;

    bool useTls() const { return !certFile.empty(); }

    // nullopt with a one-line reason in error when the arguments are not usable.
    static std::optional<ServerOptions> parse(const std::vector<std::string> &args,
                                              std::string &error);
    static std::string usage();
    // $XDG_DATA_HOME/pelkin-upload-server, else ~/.local/share/pelkin-upload-server.
    static std::filesystem::path defaultDataDir();
};
