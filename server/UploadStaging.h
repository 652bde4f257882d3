#pragma once

#include "UploadRecord.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class UploadStore;

// The files of one upload while it is being received, in a private folder under
// incoming/. Unless it is published, the folder and everything written so far
// are removed when the object goes away, whatever went wrong.
class UploadStaging
{
public:
    explicit UploadStaging(const UploadStore &store);
    ~UploadStaging();
    UploadStaging(const UploadStaging &) = delete;
    UploadStaging &operator=(const UploadStaging &) = delete;

    bool isValid() const { return m_valid; }
    const std::string &lastError() const { return m_error; }

    // Ends the current file (if any) and starts the next one, stored as its index.
    bool beginFile(std::string name, std::string contentType);
    bool write(const char *data, std::size_t length);
    // Flushes and closes the current file.
    bool finish();

    const std::vector<StoredFile> &files() const { return m_files; }
    std::uint64_t totalBytes() const { return m_totalBytes; }
    const std::filesystem::path &dir() const { return m_dir; }

    // Removes the folder and everything in it now, not only when this goes away.
    void discard();

    // The folder now belongs to the store; do not remove it.
    void release() { m_released = true; }

private:
    bool flush();
    bool fail(const std::string &what);

    std::filesystem::path m_dir;
    std::vector<StoredFile> m_files;
    std::string m_buffer;
    std::string m_error;
    std::uint64_t m_totalBytes = 0;
    int m_fd = -1;
    bool m_valid = false;
    bool m_released = false;
};
