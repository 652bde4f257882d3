#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

// POSIX file writing that survives short writes and signals.
namespace FileIo {

// Writes all bytes to fd; false with errno set on failure.
bool writeAll(int fd, const char *data, std::size_t length);

// The whole content of a small file (metadata, keys, certificates); nullopt when
// it cannot be read.
std::optional<std::string> readSmallFile(const std::filesystem::path &path);

} // namespace FileIo
