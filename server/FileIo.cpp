#include "FileIo.h"

#include <unistd.h>

#include <cerrno>

namespace FileIo {

bool writeAll(int fd, const char *data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace FileIo
