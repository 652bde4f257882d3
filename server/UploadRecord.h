#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One stored file of an upload. The name is only ever shown and sent back; on
// disk the file is called by its index.
struct StoredFile
{
    std::string name;
    std::string contentType;
    std::uint64_t size = 0;
};

// What the service remembers about one upload (meta.json in its folder).
struct UploadRecord
{
    std::string id;
    std::int64_t createdAt = 0;
    std::int64_t expiresAt = 0;
    std::vector<StoredFile> files;
    std::string passwordHash; // empty when the upload is not protected

    bool isProtected() const { return !passwordHash.empty(); }
    bool isExpired(std::int64_t now) const { return now >= expiresAt; }
    std::uint64_t totalSize() const;

    nlohmann::json toJson() const;
    static std::optional<UploadRecord> fromJson(const nlohmann::json &json);
};
