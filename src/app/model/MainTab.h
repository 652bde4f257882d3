#pragma once

#include "RawValueTable.h"

#include <QObject>
#include <QStringView>
#include <QVariantList>

// The main window's sidebar destinations.
//
// QML sees it as MainTab (src/app/views/ModelTypes.h): MainTab.Home / MainTab.History / MainTab.Settings.
class MainTab
{
    Q_GADGET
public:
    enum Value { Home, History, Settings };
    Q_ENUM(Value)

    struct Info
    {
        Value value;
        QStringView rawValue; // "home", "history", "settings"
        QStringView label;    // "アップロード", "履歴", "設定"
        // Symbol name ("square.and.arrow.up", ...); the views map it to a
        // themed icon with a bundled fallback.
        QStringView icon;
    };

    // In sidebar order.
    static const RawValueTable<Info> &table();
    // [{ value, rawValue, label, icon }] in sidebar order, for QML.
    static QVariantList choices();
};
