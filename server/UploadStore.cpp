#include "UploadStore.h"

#include "FileIo.h"
#include "RandomToken.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace {

bool writeFileSynced(const fs::path &path, const std::string &content, std::string &error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = path.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!FileIo::writeAll(fd, content.data(), content.size())) {
        error = path.string() + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    if (!ok) {
        error = path.string() + ": " + std::strerror(errno);
    }
    ::close(fd);
    return ok;
}

std::optional<UploadRecord> loadRecord(const fs::path &dir)
{
    const auto text = FileIo::readSmallFile(dir / "meta.json");
    if (!text) {
        return std::nullopt;
    }
    const auto json = nlohmann::json::parse(*text, nullptr, false);
    if (json.is_discarded()) {
        return std::nullopt;
    }
    return UploadRecord::fromJson(json);
}

} // namespace

UploadStore::UploadStore(fs::path root)
    : m_root(std::move(root))
{}

bool UploadStore::open(std::string &error)
{
    std::error_code ec;
    for (const auto &dir : {m_root, uploadsDir(), incomingDir()}) {
        fs::create_directories(dir, ec);
        if (ec || !fs::is_directory(dir)) {
            error = "cannot create " + dir.string() + ": " + ec.message();
            return false;
        }
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    m_leftoversRemoved = 0;
    for (const auto &entry : fs::directory_iterator(incomingDir(), ec)) {
        std::error_code ignored;
        fs::remove_all(entry.path(), ignored);
        ++m_leftoversRemoved;
    }
    return loadSecret(error);
}

bool UploadStore::loadSecret(std::string &error)
{
    const fs::path path = m_root / "secret";
    if (const auto existing = FileIo::readSmallFile(path); existing && existing->size() >= 32) {
        m_secret = *existing;
        return true;
    }
    std::error_code ec;
    fs::remove(path, ec);
    m_secret = RandomToken::bytes(32);
    return writeFileSynced(path, m_secret, error);
}

bool UploadStore::publish(const fs::path &stagingDir, UploadRecord &record, std::string &error)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        record.id = RandomToken::identifier();
        std::error_code ec;
        fs::remove(stagingDir / "meta.json", ec);
        if (!writeFileSynced(stagingDir / "meta.json", record.toJson().dump(), error)) {
            return false;
        }
        const fs::path target = uploadsDir() / record.id;
        // rename() refuses to replace a non-empty folder; an identifier clash
        // (practically impossible with 128 random bits) just draws again.
        if (::rename(stagingDir.c_str(), target.c_str()) == 0) {
            return true;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) {
            error = target.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    error = "no free identifier";
    return false;
}

std::optional<UploadRecord> UploadStore::find(std::string_view id, std::int64_t now) const
{
    if (!RandomToken::isIdentifier(id)) {
        return std::nullopt;
    }
    auto record = loadRecord(uploadsDir() / std::string(id));
    if (!record || record->id != id || record->isExpired(now)) {
        return std::nullopt;
    }
    return record;
}

std::optional<fs::path> UploadStore::filePath(const UploadRecord &record, std::size_t index) const
{
    if (!RandomToken::isIdentifier(record.id) || index >= record.files.size()) {
        return std::nullopt;
    }
    return uploadsDir() / record.id / std::to_string(index);
}

void UploadStore::remove(std::string_view id)
{
    if (RandomToken::isIdentifier(id)) {
        std::error_code ec;
        fs::remove_all(uploadsDir() / std::string(id), ec);
    }
}

int UploadStore::purgeExpired(std::int64_t now)
{
    int removed = 0;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(uploadsDir(), ec)) {
        const auto name = entry.path().filename().string();
        bool expired = !RandomToken::isIdentifier(name);
        if (!expired) {
            const auto record = loadRecord(entry.path());
            expired = !record || record->isExpired(now);
        }
        if (expired) {
            std::error_code removeError;
            fs::remove_all(entry.path(), removeError);
            if (!removeError) {
                ++removed;
            }
        }
    }
    return removed;
}
