#include "MainTab.h"

namespace {

constexpr MainTab::Info tabs[] = {
    {MainTab::Home, u"home", u"アップロード", u"square.and.arrow.up"},
    {MainTab::History, u"history", u"履歴", u"clock.arrow.circlepath"},
    {MainTab::Settings, u"settings", u"設定", u"gearshape"},
};

constexpr RawValueTable<MainTab::Info> tabTable{tabs};

} // namespace

const RawValueTable<MainTab::Info> &MainTab::table()
{
    return tabTable;
}

QVariantList MainTab::choices()
{
    return table().choices([](const Info &entry, QVariantMap &item) {
        item.insert(QStringLiteral("icon"), entry.icon.toString());
    });
}
