#include "UploadResponse.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <limits>

namespace {

using nlohmann::json;

// Thrown inside decode() only; never leaves this file.
struct DecodeFailure
{
    QString reason;
};

[[noreturn]] void fail(const char *key, const char *expected)
{
    throw DecodeFailure{
        QStringLiteral("\"%1\" is not %2").arg(QLatin1String(key), QLatin1String(expected))};
}

// Absent and null both mean "no value".
const json *field(const json &object, const char *key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

std::optional<QString> stringField(const json &object, const char *key)
{
    const json *value = field(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_string())
        fail(key, "a string");
    return QString::fromStdString(value->get_ref<const std::string &>());
}

std::optional<bool> boolField(const json &object, const char *key)
{
    const json *value = field(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_boolean())
        fail(key, "a boolean");
    return value->get<bool>();
}

// Exact signed 64-bit integers only: a float token (even 1.0 or 1e3) or an
// unsigned value above INT64_MAX fails rather than being rounded or wrapped.
std::optional<qint64> integerField(const json &object, const char *key)
{
    const json *value = field(object, key);
    if (!value)
        return std::nullopt;
    if (value->is_number_unsigned()) {
        const auto u = value->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            fail(key, "a signed 64-bit integer");
        return static_cast<qint64>(u);
    }
    if (value->is_number_integer())
        return value->get<std::int64_t>();
    fail(key, "an integer");
}

std::optional<QStringList> stringListField(const json &object, const char *key)
{
    const json *value = field(object, key);
    if (!value)
        return std::nullopt;
    if (!value->is_array())
        fail(key, "an array of strings");
    QStringList list;
    list.reserve(static_cast<qsizetype>(value->size()));
    for (const json &element : *value) {
        if (!element.is_string())
            fail(key, "an array of strings");
        list.append(QString::fromStdString(element.get_ref<const std::string &>()));
    }
    return list;
}

} // namespace

std::optional<UploadResponse> UploadResponse::decode(const QByteArray &body, QString *problem)
{
    auto reject = [problem](const QString &reason) -> std::optional<UploadResponse> {
        if (problem)
            *problem = reason;
        return std::nullopt;
    };
    // The parser would stop at a NUL byte and accept what came before it.
    if (body.contains('\0'))
        return reject(QStringLiteral("the body holds a NUL byte"));

    const json document = json::parse(body.cbegin(), body.cend(), nullptr, false);
    if (document.is_discarded())
        return reject(QStringLiteral("the body is not valid JSON"));
    if (!document.is_object())
        return reject(QStringLiteral("the body is not a JSON object"));

    try {
        UploadResponse response;
        const auto success = document.find("success");
        if (success == document.end() || !success->is_boolean())
            fail("success", "a boolean");
        response.success = success->get<bool>();
        response.id = stringField(document, "id");
        response.url = stringField(document, "url");
        response.downloadUrl = stringField(document, "download_url");
        response.expiresAt = stringField(document, "expires_at");
        response.expiresIn = integerField(document, "expires_in");
        response.sizeBytes = integerField(document, "size_bytes");
        response.fileCount = integerField(document, "file_count");
        response.originalNames = stringListField(document, "original_names");
        response.passwordProtected = boolField(document, "password_protected");
        response.error = stringField(document, "error");
        return response;
    } catch (const DecodeFailure &failure) {
        return reject(failure.reason);
    }
}
