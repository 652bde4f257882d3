#pragma once

// The model's enumerations as QML types of this module. The model itself
// stays free of QtQml; these foreign declarations name its types here.

#include "AppTheme.h"
#include "HomeUploadState.h"
#include "MainTab.h"

#include <QtQml/qqmlregistration.h>

namespace AppThemeForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(AppTheme)
QML_NAMED_ELEMENT(AppTheme)
} // namespace AppThemeForeign

namespace MainTabForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(MainTab)
QML_NAMED_ELEMENT(MainTab)
} // namespace MainTabForeign

namespace HomeUploadStateForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(HomeUploadState)
QML_NAMED_ELEMENT(HomeUploadState)
} // namespace HomeUploadStateForeign
