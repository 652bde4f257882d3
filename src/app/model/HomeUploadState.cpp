#include "HomeUploadState.h"

QString HomeUploadState::rawValue(Value state)
{
    return state == Uploading ? QStringLiteral("uploading") : QStringLiteral("idle");
}
