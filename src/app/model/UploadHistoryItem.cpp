#include "UploadHistoryItem.h"

#include "UploadHistoryCodec.h"

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

UploadHistoryItem UploadHistoryItem::recordedNow(const QStringList &fileNames,
                                                 const std::optional<QString> &url, bool success,
                                                 const QString &message)
{
    QDateTime now = QDateTime::currentDateTimeUtc();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    QStringList names;
    names.reserve(fileNames.size());
    for (const QString &name : fileNames)
        names.append(UploadHistoryCodec::validUnicode(name));
    return UploadHistoryItem(
        QUuid::createUuid(), now, names,
        url ? std::optional<QString>(UploadHistoryCodec::validUnicode(*url)) : std::nullopt,
        success, UploadHistoryCodec::validUnicode(message));
}

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
