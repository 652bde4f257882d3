#include "UploadStaging.h"

#include "FileIo.h"
#include "RandomToken.h"
#include "UploadStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace {
// The HTTP layer hands over a few KiB at a time; collect them to write in larger
// blocks, small enough that a thousand uploads at once stay within memory.
constexpr std::size_t writeBlock = 64 * 1024;
} // namespace

UploadStaging::UploadStaging(const UploadStore &store)
{
    for (int attempt = 0; attempt < 4 && !m_valid; ++attempt) {
        m_dir = store.incomingDir() / RandomToken::identifier();
        if (::mkdir(m_dir.c_str(), 0700) == 0) {
            m_valid = true;
        } else if (errno != EEXIST) {
            fail(m_dir.string());
            break;
        }
    }
}

UploadStaging::~UploadStaging()
{
    discard();
}

void UploadStaging::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_valid && !m_released) {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
        m_released = true;
    }
}

bool UploadStaging::fail(const std::string &what)
{
    m_error = what + ": " + std::strerror(errno);
    return false;
}

bool UploadStaging::beginFile(std::string name, std::string contentType)
{
    if (!m_valid || !finish()) {
        return false;
    }
    const fs::path path = m_dir / std::to_string(m_files.size());
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        return fail(path.string());
    }
    m_files.push_back({std::move(name), std::move(contentType), 0});
    return true;
}

bool UploadStaging::write(const char *data, std::size_t length)
{
    if (m_fd < 0) {
        return false;
    }
    m_buffer.append(data, length);
    m_files.back().size += length;
    m_totalBytes += length;
    return m_buffer.size() < writeBlock || flush();
}

bool UploadStaging::flush()
{
    if (!FileIo::writeAll(m_fd, m_buffer.data(), m_buffer.size())) {
        return fail("write");
    }
    m_buffer.clear();
    return true;
}

bool UploadStaging::finish()
{
    if (m_fd < 0) {
        return true;
    }
    bool ok = flush();
    if (ok && ::fsync(m_fd) != 0) {
        ok = fail("fsync");
    }
    if (::close(m_fd) != 0 && ok) {
        ok = fail("close");
    }
    m_fd = -1;
    return ok;
}
