#include "AppTheme.h"

namespace {

struct ThemeInfo
{
    AppTheme::Value theme;
    QStringView rawValue;
    QStringView label;
    QStringView colorScheme;
};

constexpr ThemeInfo themes[] = {
    {AppTheme::System, u"system", u"システム", u""},
    {AppTheme::Light, u"light", u"ライト", u"light"},
    {AppTheme::Dark, u"dark", u"ダーク", u"dark"},
};

const ThemeInfo &info(AppTheme::Value theme)
{
    for (const ThemeInfo &entry : themes) {
        if (entry.theme == theme)
            return entry;
    }
    return themes[0];
}

} // namespace

QList<AppTheme::Value> AppTheme::allCases()
{
    QList<Value> cases;
    for (const ThemeInfo &entry : themes)
        cases.append(entry.theme);
    return cases;
}

QString AppTheme::rawValue(Value theme)
{
    return info(theme).rawValue.toString();
}

std::optional<AppTheme::Value> AppTheme::fromRawValue(const QString &raw)
{
    for (const ThemeInfo &entry : themes) {
        if (entry.rawValue == raw)
            return entry.theme;
    }
    return std::nullopt;
}

QString AppTheme::label(Value theme)
{
    return info(theme).label.toString();
}

QString AppTheme::colorScheme(Value theme)
{
    return info(theme).colorScheme.toString();
}
