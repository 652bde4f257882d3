#pragma once

#include <cstddef>

// POSIX file writing that survives short writes and signals.
namespace FileIo {

// Writes all bytes to fd; false with errno set on failure.
bool writeAll(int fd, const char *data, std::size_t length);

} // namespace FileIo
