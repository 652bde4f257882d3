#pragma once

#include "UploadHistoryItem.h"

#include <QByteArray>
#include <QList>
#include <optional>

// The stored form of the history: UTF-8 JSON, an array of
//   {"id": "<UPPER-CASE UUID>", "timestamp": "2025-03-01T09:05:00Z",
//    "fileNames": [...], "url": "..." (only when set), "success": bool, "message": "..."}
// Decoding is all or nothing: one malformed entry fails the whole list;
// lone surrogates in its text become U+FFFD, as encode() writes them.
class UploadHistoryCodec
{
public:
    // None only for an entry that cannot be written (a timestamp that is
    // invalid or outside years 0001..9999); text is always valid Unicode.
    static std::optional<QByteArray> encode(const QList<UploadHistoryItem> &items);
    static std::optional<QList<UploadHistoryItem>> decode(const QByteArray &json);

    // "2025-03-01T09:05:00Z"; fractions of a second are dropped.
    static QString formatTimestamp(const QDateTime &timestamp);
    // Only the form formatTimestamp writes; anything else is none.
    static std::optional<QDateTime> parseTimestamp(const QString &text);

    // text with every unpaired surrogate replaced by U+FFFD.
    static QString validUnicode(const QString &text);
};
