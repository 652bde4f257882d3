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

    // What a successful upload says, on the Home tab, in the drop zone and
    // in the history: no URL / URL copied / URL issued.
    static QString successMessage(const std::optional<QString> &url, bool didCopyToClipboard);

    // For QML: { success: bool, hasUrl: bool, url: string ("" when absent),
    //            message: string, fileNames: [string], didCopyToClipboard: bool }
    QVariantMap toVariantMap() const;

    friend bool operator==(const HomeUploadResult &, const HomeUploadResult &) = default;
};

Q_DECLARE_METATYPE(HomeUploadResult)
