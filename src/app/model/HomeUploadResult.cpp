#include "HomeUploadResult.h"

QVariantMap HomeUploadResult::toVariantMap() const
{
    return {
        {QStringLiteral("success"), success},
        {QStringLiteral("hasUrl"), url.has_value()},
        {QStringLiteral("url"), url.value_or(QString())},
        {QStringLiteral("message"), message},
        {QStringLiteral("fileNames"), fileNames},
        {QStringLiteral("didCopyToClipboard"), didCopyToClipboard},
    };
}

QString HomeUploadResult::successMessage(const std::optional<QString> &url,
                                         bool didCopyToClipboard)
{
    if (!url || url->isEmpty())
        return QStringLiteral("アップロードは成功しましたがURLの取得に失敗しました");
    if (didCopyToClipboard)
        return QStringLiteral("共有URLをクリップボードにコピーしました");
    return QStringLiteral("共有URLを発行しました");
}
