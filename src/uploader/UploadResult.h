#pragma once

#include "PlatformError.h"
#include "UploadError.h"
#include "UploadResponse.h"

#include <variant>

// The outcome of one upload: the decoded reply, or exactly one error, either
// the client's own UploadError or a PlatformError. A reply with
// "success": false never arrives here as a success (it becomes serverError).
class UploadResult
{
public:
    UploadResult(UploadResponse response)
        : m_value(std::move(response))
    {}
    UploadResult(UploadError error)
        : m_value(std::move(error))
    {}
    UploadResult(PlatformError error)
        : m_value(std::move(error))
    {}

    bool isSuccess() const { return std::holds_alternative<UploadResponse>(m_value); }
    bool isUploadError() const { return std::holds_alternative<UploadError>(m_value); }
    bool isPlatformError() const { return std::holds_alternative<PlatformError>(m_value); }

    // Each accessor requires the matching is...() to be true.
    const UploadResponse &response() const { return std::get<UploadResponse>(m_value); }
    const UploadError &uploadError() const { return std::get<UploadError>(m_value); }
    const PlatformError &platformError() const { return std::get<PlatformError>(m_value); }

    // The Japanese message to show for an error; empty for a success.
    QString localizedDescription() const;

    bool operator==(const UploadResult &) const = default;

private:
    std::variant<UploadResponse, UploadError, PlatformError> m_value;
};
