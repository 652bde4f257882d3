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
