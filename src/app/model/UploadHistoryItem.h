#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariantMap>
#include <optional>

// One finished upload in the history. Identity is id.
struct UploadHistoryItem
{
    QUuid id;
    QDateTime timestamp; // UTC, whole seconds
    QStringList fileNames;
    std::optional<QString> url; // absent on failure or when the reply had none
    bool success = false;
    QString message;

    UploadHistoryItem() = default;
    UploadHistoryItem(QUuid id, QDateTime timestamp, QStringList fileNames,
                      std::optional<QString> url, bool success, QString message);

    // A new entry stamped now, with a fresh id; texts that are not valid
    // Unicode are repaired so the entry can always be stored.
    static UploadHistoryItem recordedNow(const QStringList &fileNames,
                                         const std::optional<QString> &url, bool success,
                                         const QString &message);

    // Upper case, 36 characters, no braces, e.g. "0F8E...-...".
    QString idString() const;

    // For QML: { id: string (upper case), timestamp: Date (UTC), fileNames: [string],
    //            hasUrl: bool, url: string ("" when absent), success: bool, message: string }
    QVariantMap toVariantMap() const;

    friend bool operator==(const UploadHistoryItem &, const UploadHistoryItem &) = default;
};

Q_DECLARE_METATYPE(UploadHistoryItem)
