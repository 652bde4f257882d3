#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

// The main window's sidebar destinations.
//
// QML: qmlRegisterUncreatableMetaObject(MainTab::staticMetaObject, "Pelkin.Model", 1, 0,
//                                       "MainTab", "enumeration");
// then MainTab.Home / MainTab.History / MainTab.Settings.
class MainTab
{
    Q_GADGET
public:
    enum Value { Home, History, Settings };
    Q_ENUM(Value)

    // In sidebar order.
    static QList<Value> allCases();

    // "home", "history", "settings".
    static QString rawValue(Value tab);
    static std::optional<Value> fromRawValue(const QString &raw);
    // "アップロード", "履歴", "設定".
    static QString label(Value tab);
    // Symbol name: "square.and.arrow.up", "clock.arrow.circlepath", "gearshape".
    // The views map it to a themed icon with a bundled fallback.
    static QString icon(Value tab);
};
