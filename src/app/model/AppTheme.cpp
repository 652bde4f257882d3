#include "AppTheme.h"

namespace {

constexpr AppTheme::Info themes[] = {
    {AppTheme::System, u"system", u"システム", u""},
    {AppTheme::Light, u"light", u"ライト", u"light"},
    {AppTheme::Dark, u"dark", u"ダーク", u"dark"},
};

constexpr RawValueTable<AppTheme::Info> themeTable{themes};

} // namespace

const RawValueTable<AppTheme::Info> &AppTheme::table()
{
    return themeTable;
}

QVariantList AppTheme::choices()
{
    return table().choices();
}
