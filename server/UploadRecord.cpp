#include "UploadRecord.h"

#include <nlohmann/json.hpp>

std::uint64_t UploadRecord::totalSize() const
{
    std::uint64_t total = 0;
    for (const auto &file : files) {
        total += file.size;
    }
    return total;
}

nlohmann::json UploadRecord::toJson() const
{
    nlohmann::json list = nlohmann::json::array();
    for (const auto &file : files) {
        list.push_back(
            {{"name", file.name}, {"content_type", file.contentType}, {"size", file.size}});
    }
    return {{"id", id},
            {"created_at", createdAt},
            {"expires_at", expiresAt},
            {"files", list},
            {"password_hash", passwordHash}};
}

std::optional<UploadRecord> UploadRecord::fromJson(const nlohmann::json &json)
{
    try {
        UploadRecord record;
        record.id = json.at("id").get<std::string>();
        record.createdAt = json.at("created_at").get<std::int64_t>();
        record.expiresAt = json.at("expires_at").get<std::int64_t>();
        record.passwordHash = json.at("password_hash").get<std::string>();
        for (const auto &entry : json.at("files")) {
            StoredFile file;
            file.name = entry.at("name").get<std::string>();
            file.contentType = entry.at("content_type").get<std::string>();
            file.size = entry.at("size").get<std::uint64_t>();
            record.files.push_back(std::move(file));
        }
        return record;
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
}
