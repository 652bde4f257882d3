#include "UploadResult.h"

QString UploadResult::localizedDescription() const
{
    if (isUploadError())
        return uploadError().errorDescription();
    if (isPlatformError())
        return platformError().localizedDescription();
    return {};
}
