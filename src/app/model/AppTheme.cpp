#include "AppTheme.h"

#include "RawValueTable.h"

namespace {

struct ThemeInfo
{
    AppTheme::Value value;
    QStringView rawValue;
    QStringView label;
    QStringView colorScheme;
};

constexpr ThemeInfo themes[] = {
    {AppTheme::System, u"system", u"システム", u""},
    {AppTheme::Light, u"light", u"ライト", u"light"},
    {AppTheme::Dark, u"dark", u"ダーク", u"dark"},
};

constexpr RawValueTable<ThemeInfo> table{themes};

} // namespace

QList<AppTheme::Value> AppTheme::allCases()
{
    return table.allCases();
}

QString AppTheme::rawValue(Value theme)
{
    return table.info(theme).rawValue.toString();
}

std::optional<AppTheme::Value> AppTheme::fromRawValue(const QString &raw)
{
    return table.fromRawValue(raw);
}

QString AppTheme::label(Value theme)
{
    return table.info(theme).label.toString();
}

QString AppTheme::colorScheme(Value theme)
{
    return table.info(theme).colorScheme.toString();
}
