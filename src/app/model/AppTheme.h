#pragma once

#include "RawValueTable.h"

#include <QObject>
#include <QStringView>
#include <QVariantList>

// Appearance theme of the main window. Stored by its raw value.
//
// QML sees it as AppTheme (src/app/views/ModelTypes.h): AppTheme.System / AppTheme.Light / AppTheme.Dark.
class AppTheme
{
    Q_GADGET
public:
    enum Value { System, Light, Dark };
    Q_ENUM(Value)

    struct Info
    {
        Value value;
        QStringView rawValue;    // "system", "light", "dark"
        QStringView label;       // "システム", "ライト", "ダーク"
        QStringView colorScheme; // what the window prefers: "" (follow the system), "light", "dark"
    };

    // In display order.
    static const RawValueTable<Info> &table();
    // [{ value, rawValue, label }] in display order, for QML pickers.
    static QVariantList choices();
};
