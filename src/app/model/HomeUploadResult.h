#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

// Outcome of one Home-tab upload, shown as the result card. Compared field
// by field.
struct HomeUploadResult
{
    bool success = false;
    std::optional<QString> url; // an empty string is kept as given
    QString message;
    QStringList fileNames;
    bool didCopyToClipboard = false;

    // For QML: { success: bool, hasUrl: bool, url: string ("" when absent),
    //            message: string, fileNames: [string], didCopyToClipboard: bool }
    QVariantMap toVariantMap() const;

    friend bool operator==(const HomeUploadResult &, const HomeUploadResult &) = default;
};

Q_DECLARE_METATYPE(HomeUploadResult)
