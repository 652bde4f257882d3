// The upload service's reply: whatever decodes must re-encode to JSON that
// decodes to the same reply, and a decoded reply holds only valid text.
#include "UploadResponse.h"

#include <nlohmann/json.hpp>

#include <cstdint>

namespace {

using nlohmann::json;

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

bool validText(const QString &text)
{
    return QString::fromUtf8(text.toUtf8()) == text;
}

bool validText(const std::optional<QString> &text)
{
    return !text || validText(*text);
}

// The reply as the service would have written it.
QByteArray reencode(const UploadResponse &r)
{
    json object = json::object();
    object["success"] = r.success;
    auto put = [&object](const char *key, const auto &value) {
        if (value)
            object[key] = *value;
    };
    auto text = [](const std::optional<QString> &s) {
        return s ? std::optional(s->toStdString()) : std::nullopt;
    };
    put("id", text(r.id));
    put("url", text(r.url));
    put("download_url", text(r.downloadUrl));
    put("expires_at", text(r.expiresAt));
    put("expires_in", r.expiresIn);
    put("size_bytes", r.sizeBytes);
    put("file_count", r.fileCount);
    if (r.originalNames) {
        json names = json::array();
        for (const QString &name : *r.originalNames)
            names.push_back(name.toStdString());
        object["original_names"] = names;
    }
    put("password_protected", r.passwordProtected);
    put("error", text(r.error));
    return QByteArray::fromStdString(object.dump());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    QString problem;
    const std::optional<UploadResponse> response = UploadResponse::decode(body, &problem);
    // A refusal always says why; an acceptance is one whole JSON object.
    check(response.has_value() == problem.isEmpty());
    if (!response)
        return 0;
    check(!body.contains('\0'));
    check(json::accept(body.cbegin(), body.cend()));

    check(validText(response->id) && validText(response->url) &&
          validText(response->downloadUrl) && validText(response->expiresAt) &&
          validText(response->error));
    if (response->originalNames) {
        for (const QString &name : *response->originalNames)
            check(validText(name));
    }

    const std::optional<UploadResponse> again = UploadResponse::decode(reencode(*response));
    check(again == response);
    return 0;
}
