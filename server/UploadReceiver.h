#pragma once

#include "HttpServer.h"
#include "MultipartReader.h"
#include "UploadStaging.h"

#include <cstdint>
#include <functional>
#include <string>

class UploadStore;

// Receives one POST /api/upload.php body: reads the multipart stream into a
// staging folder, enforces the limits while reading, publishes the upload when
// the body is complete and answers with the JSON the client expects. If that
// answer does not reach the client, the upload is removed again: nobody could
// ever get its link.
class UploadReceiver : public HttpBody
{
public:
    struct Settings
    {
        std::uint64_t maxBytes = 0;
        std::size_t maxFiles = 0;
        std::int64_t expirySeconds = 0;
        std::string publicBase;
    };
    using Logger = std::function<void(const std::string &)>;

    // Refused bodies are still read and dropped up to this much before the
    // reply, so a client sending without waiting for "100 Continue" is reading
    // when the reply comes instead of being reset mid-send.
    static constexpr std::uint64_t drainBytes = 64ULL * 1024 * 1024;

    UploadReceiver(UploadStore &store, Settings settings, const std::string &boundary,
                   bool declaredTooLarge, Logger logger);

    // Room for part headers, boundaries and the password around the file bytes.
    static std::uint64_t requestOverhead(std::size_t maxFiles);

    bool data(std::string_view bytes) override;
    HttpResponse finish() override;
    void closed(bool delivered) override;

private:
    enum class Part { None, File, Password, Ignored };
    enum class Failure { None, TooLarge, TooManyFiles, PasswordTooLong, ExtraField, Storage };

    bool beginPart(const MultipartReader::PartHeader &header);
    bool partData(std::string_view bytes);
    void fail(Failure why);
    HttpResponse failureReply();

    UploadStore &m_store;
    Settings m_settings;
    Logger m_logger;
    UploadStaging m_staging;
    MultipartReader m_reader;
    Part m_part = Part::None;
    Failure m_failure = Failure::None;
    std::string m_password;
    std::size_t m_fileParts = 0;
    std::uint64_t m_ignoredBytes = 0;
    std::uint64_t m_drained = 0;
    std::string m_publishedId;
};
