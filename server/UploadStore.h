#pragma once

#include "UploadRecord.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The data folder. Layout:
//   uploads/<id>/meta.json, uploads/<id>/0, 1, ...   published uploads
//   incoming/<random>/                               uploads still being received
//   secret                                           key for access cookies
// Paths are only ever built from identifiers this class generated or validated,
// and from file indexes, never from names sent by clients.
class UploadStore
{
public:
    explicit UploadStore(std::filesystem::path root);

    // Creates the folders (private to the user) and removes anything left in
    // incoming/ by an earlier run that stopped mid-upload.
    bool open(std::string &error);
    // How many unfinished uploads open() removed.
    int leftoversRemoved() const { return m_leftoversRemoved; }

    const std::filesystem::path &root() const { return m_root; }
    std::filesystem::path incomingDir() const { return m_root / "incoming"; }
    std::filesystem::path uploadsDir() const { return m_root / "uploads"; }
    const std::string &secret() const { return m_secret; }

    // Gives the staged folder a fresh identifier, writes its meta.json and moves
    // it into uploads/ in one rename, so readers never see half an upload.
    bool publish(const std::filesystem::path &stagingDir, UploadRecord &record, std::string &error);

    // nullopt for malformed, unknown and expired identifiers alike.
    std::optional<UploadRecord> find(std::string_view id, std::int64_t now) const;
    std::optional<std::filesystem::path> filePath(const UploadRecord &record,
                                                  std::size_t index) const;

    // Removes a published upload (its identifier was validated).
    void remove(std::string_view id);

    // Removes expired uploads; returns how many were removed.
    int purgeExpired(std::int64_t now);

private:
    bool loadSecret(std::string &error);

    std::filesystem::path m_root;
    std::string m_secret;
    int m_leftoversRemoved = 0;
};
