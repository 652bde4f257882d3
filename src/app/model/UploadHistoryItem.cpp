#include "UploadHistoryItem.h"

#include <utility>

UploadHistoryItem::UploadHistoryItem(QUuid id, QDateTime timestamp, QStringList fileNames,
                                     std::optional<QString> url, bool success, QString message)
    : id(id)
    , timestamp(std::move(timestamp))
    , fileNames(std::move(fileNames))
    , url(std::move(url))
    , success(success)
    , message(std::move(message))
{}

QString UploadHistoryItem::idString() const
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QVariantMap UploadHistoryItem::toVariantMap() const
{
    return {
        {QStringLiteral("id"), idString()},
        {QStringLiteral("timestamp"), timestamp},
        {QStringLiteral("fileNames"), fileNames},
        {QStringLiteral("hasUrl"), url.has_value()},
        {QStringLiteral("url"), url.value_or(QString())},
        {QStringLiteral("success"), success},
        {QStringLiteral("message"), message},
    };
}
