#include "UploadHistoryCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QTimeZone>

namespace {

const QString idKey = QStringLiteral("id");
const QString timestampKey = QStringLiteral("timestamp");
const QString fileNamesKey = QStringLiteral("fileNames");
const QString urlKey = QStringLiteral("url");
const QString successKey = QStringLiteral("success");
const QString messageKey = QStringLiteral("message");

std::optional<QUuid> parseId(const QString &text)
{
    // The canonical 36-character form only: no braces, no URN prefix.
    static const QRegularExpression form(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

std::optional<UploadHistoryItem> decodeItem(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();

    const QJsonValue id = object.value(idKey);
    const QJsonValue timestamp = object.value(timestampKey);
    const QJsonValue fileNames = object.value(fileNamesKey);
    const QJsonValue url = object.value(urlKey);
    const QJsonValue success = object.value(successKey);
    const QJsonValue message = object.value(messageKey);
    if (!id.isString() || !timestamp.isString() || !fileNames.isArray() || !success.isBool() ||
        !message.isString())
        return std::nullopt;
    if (!(url.isUndefined() || url.isNull() || url.isString()))
        return std::nullopt;

    UploadHistoryItem item;
    const std::optional<QUuid> parsedId = parseId(id.toString());
    const std::optional<QDateTime> parsedTimestamp =
        UploadHistoryCodec::parseTimestamp(timestamp.toString());
    if (!parsedId || !parsedTimestamp)
        return std::nullopt;
    item.id = *parsedId;
    item.timestamp = *parsedTimestamp;
    for (const QJsonValue &name : fileNames.toArray()) {
        if (!name.isString())
            return std::nullopt;
        item.fileNames.append(UploadHistoryCodec::validUnicode(name.toString()));
    }
    // A "\ud800" escape decodes to a lone surrogate, which encode() would
    // write back as U+FFFD: repair it here so the list read is the list saved.
    if (url.isString())
        item.url = UploadHistoryCodec::validUnicode(url.toString());
    item.success = success.toBool();
    item.message = UploadHistoryCodec::validUnicode(message.toString());
    return item;
}

} // namespace

QString UploadHistoryCodec::formatTimestamp(const QDateTime &timestamp)
{
    return timestamp.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z';
}

std::optional<QDateTime> UploadHistoryCodec::parseTimestamp(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})Z$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                     match.captured(6).toInt());
    // QDate and QTime refuse February 30th, hour 24 and the like.
    if (!date.isValid() || !time.isValid() || date.year() < 1)
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

QString UploadHistoryCodec::validUnicode(const QString &text)
{
    QString result = text;
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        if (c.isHighSurrogate() && i + 1 < result.size() && result.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            result[i] = QChar::ReplacementCharacter;
    }
    return result;
}

std::optional<QByteArray> UploadHistoryCodec::encode(const QList<UploadHistoryItem> &items)
{
    QJsonArray array;
    for (const UploadHistoryItem &item : items) {
        const QDateTime utc = item.timestamp.toUTC();
        if (!utc.isValid() || utc.date().year() < 1 || utc.date().year() > 9999)
            return std::nullopt;
        QJsonObject object;
        object.insert(idKey, item.idString());
        object.insert(timestampKey, formatTimestamp(utc));
        QJsonArray names;
        for (const QString &name : item.fileNames)
            names.append(validUnicode(name));
        object.insert(fileNamesKey, names);
        if (item.url)
            object.insert(urlKey, validUnicode(*item.url));
        object.insert(successKey, item.success);
        object.insert(messageKey, validUnicode(item.message));
        array.append(object);
    }
    // Qt's UTF-8 decoding drops a U+FEFF that starts a string, so a name
    // beginning with one would come back shorter; escaped, it survives. Those
    // bytes only ever occur inside strings here.
    QByteArray json = QJsonDocument(array).toJson(QJsonDocument::Compact);
    return json.replace("\xEF\xBB\xBF", "\\ufeff");
}

std::optional<QList<UploadHistoryItem>> UploadHistoryCodec::decode(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<UploadHistoryItem> items;
    const QJsonArray array = document.array();
    items.reserve(array.size());
    for (const QJsonValue &value : array) {
        std::optional<UploadHistoryItem> item = decodeItem(value);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}
