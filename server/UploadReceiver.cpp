#include "UploadReceiver.h"

#include "PasswordHash.h"
#include "ServiceReplies.h"
#include "TextEncoding.h"
#include "UploadStore.h"

#include <nlohmann/json.hpp>

#include <ctime>

namespace {

constexpr std::size_t maxPasswordBytes = 1024;
constexpr std::size_t maxIgnoredFieldBytes = 64 * 1024;

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string safeContentType(const std::string &type)
{
    if (type.empty() || type.size() > 200) {
        return "application/octet-stream";
    }
    for (const char c : type) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            return "application/octet-stream";
        }
    }
    return type;
}

} // namespace

UploadReceiver::UploadReceiver(UploadStore &store, Settings settings, const std::string &boundary,
                               bool declaredTooLarge, Logger logger)
    : m_store(store)
    , m_settings(std::move(settings))
    , m_logger(std::move(logger))
    , m_staging(store)
    , m_reader(
          boundary, [this](const MultipartReader::PartHeader &header) { return beginPart(header); },
          [this](std::string_view bytes) { return partData(bytes); })
{
    if (!m_staging.isValid()) {
        fail(Failure::Storage);
    } else if (declaredTooLarge) {
        fail(Failure::TooLarge);
    }
}

std::uint64_t UploadReceiver::requestOverhead(std::size_t maxFiles)
{
    return 64 * 1024 + maxFiles * 16 * 1024;
}

void UploadReceiver::fail(Failure why)
{
    if (m_failure == Failure::None) {
        m_failure = why;
    }
    m_part = Part::Ignored;
}

bool UploadReceiver::beginPart(const MultipartReader::PartHeader &header)
{
    if (m_failure != Failure::None) {
        return true;
    }
    if (!m_staging.finish()) {
        fail(Failure::Storage);
        return true;
    }
    if (header.name == "file" || header.name == "files[]") {
        if (++m_fileParts > m_settings.maxFiles) {
            fail(Failure::TooManyFiles);
            return true;
        }
        std::string name =
            TextEncoding::toValidUtf8(TextEncoding::decodeMultipartFileName(header.fileName));
        if (name.empty()) {
            name = "file";
        }
        if (!m_staging.beginFile(std::move(name), safeContentType(header.contentType))) {
            fail(Failure::Storage);
            return true;
        }
        m_part = Part::File;
    } else if (header.name == "password" && !header.hasFileName) {
        m_password.clear();
        m_part = Part::Password;
    } else {
        m_part = Part::Ignored;
    }
    return true;
}

bool UploadReceiver::partData(std::string_view bytes)
{
    switch (m_part) {
    case Part::File:
        if (m_staging.totalBytes() + bytes.size() > m_settings.maxBytes) {
            fail(Failure::TooLarge);
            return true;
        }
        if (!m_staging.write(bytes.data(), bytes.size())) {
            fail(Failure::Storage);
        }
        return true;
    case Part::Password:
        m_password.append(bytes);
        if (m_password.size() > maxPasswordBytes) {
            fail(Failure::PasswordTooLong);
        }
        return true;
    case Part::Ignored:
    case Part::None:
        if (m_failure == Failure::None) {
            m_ignoredBytes += bytes.size();
            if (m_ignoredBytes > maxIgnoredFieldBytes) {
                fail(Failure::ExtraField);
            }
        }
        return true;
    }
    return true;
}

bool UploadReceiver::data(std::string_view bytes)
{
    if (m_failure == Failure::None && !m_reader.hasFailed()) {
        m_reader.feed(bytes);
        return true;
    }
    // Refused or malformed: answered once the body has ended, if it ends soon.
    m_drained += bytes.size();
    return m_drained <= drainBytes;
}

HttpResponse UploadReceiver::failureReply()
{
    // Gone before the client reads the reply, not only when the connection ends.
    m_staging.discard();
    switch (m_failure) {
    case Failure::TooLarge:
        return ServiceReplies::jsonError(413, "ファイルサイズの合計が上限（" +
                                                  TextEncoding::formatSize(m_settings.maxBytes) +
                                                  "）を超えています。");
    case Failure::TooManyFiles:
        return ServiceReplies::jsonError(400, "ファイルが多すぎます（一度にアップロードできるのは " +
                                                  std::to_string(m_settings.maxFiles) +
                                                  " 個までです）。");
    case Failure::PasswordTooLong:
        return ServiceReplies::jsonError(400, "パスワードが長すぎます。");
    case Failure::ExtraField:
        return ServiceReplies::jsonError(400, "リクエストに不要なデータが多すぎます。");
    case Failure::Storage:
    case Failure::None:
        break;
    }
    m_logger("error: storing an upload failed: " + m_staging.lastError());
    return ServiceReplies::jsonError(500, "ファイルを保存できませんでした。");
}

HttpResponse UploadReceiver::finish()
{
    if (m_failure != Failure::None) {
        return failureReply();
    }
    if (!m_reader.isComplete()) {
        m_staging.discard();
        return ServiceReplies::jsonError(400, "リクエストの形式が正しくありません。");
    }
    if (!m_staging.finish()) {
        fail(Failure::Storage);
        return failureReply();
    }
    if (m_staging.files().empty()) {
        m_staging.discard();
        return ServiceReplies::jsonError(400, "ファイルが含まれていません。");
    }
    UploadRecord record;
    record.createdAt = now();
    record.expiresAt = record.createdAt + m_settings.expirySeconds;
    record.files = m_staging.files();
    if (!m_password.empty()) {
        record.passwordHash = PasswordHash::create(m_password);
    }
    std::string error;
    if (!m_store.publish(m_staging.dir(), record, error)) {
        m_staging.discard();
        m_logger("error: publishing an upload failed: " + error);
        return ServiceReplies::jsonError(500, "ファイルを保存できませんでした。");
    }
    m_staging.release();
    m_publishedId = record.id;

    nlohmann::json names = nlohmann::json::array();
    for (const auto &file : record.files) {
        names.push_back(file.name);
    }
    const std::string &base = m_settings.publicBase;
    return ServiceReplies::json(
        200, {
                 {"success", true},
                 {"id", record.id},
                 {"url", base + "/f/" + record.id},
                 {"download_url", base + "/d/" + record.id},
                 {"expires_at", TextEncoding::isoUtc(record.expiresAt)},
                 {"expires_in", record.expiresAt - now()},
                 {"size_bytes", static_cast<std::int64_t>(record.totalSize())},
                 {"file_count", static_cast<std::int64_t>(record.files.size())},
                 {"original_names", names},
                 {"password_protected", record.isProtected()},
             });
}

void UploadReceiver::closed(bool delivered)
{
    if (!delivered && !m_publishedId.empty()) {
        m_store.remove(m_publishedId);
        m_logger("removed upload " + m_publishedId +
                 ": the reply with its link did not reach the client");
    }
}
