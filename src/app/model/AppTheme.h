#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

// Appearance theme of the main window. Stored by its raw value.
//
// QML: register once with
//   qmlRegisterUncreatableMetaObject(AppTheme::staticMetaObject, "Pelkin.Model", 1, 0,
//                                    "AppTheme", "enumeration");
// and compare AppModel.theme with AppTheme.System / AppTheme.Light / AppTheme.Dark.
class AppTheme
{
    Q_GADGET
public:
    enum Value { System, Light, Dark };
    Q_ENUM(Value)

    // In display order.
    static QList<Value> allCases();

    // "system", "light", "dark".
    static QString rawValue(Value theme);
    // Exact, case-sensitive match of a raw value; none for anything else.
    static std::optional<Value> fromRawValue(const QString &raw);
    // "システム", "ライト", "ダーク".
    static QString label(Value theme);
    // Colour scheme the window prefers: "" (follow the system), "light" or "dark".
    static QString colorScheme(Value theme);
};
