#include "MainTab.h"

#include "RawValueTable.h"

namespace {

struct TabInfo
{
    MainTab::Value value;
    QStringView rawValue;
    QStringView label;
    QStringView icon;
};

constexpr TabInfo tabs[] = {
    {MainTab::Home, u"home", u"アップロード", u"square.and.arrow.up"},
    {MainTab::History, u"history", u"履歴", u"clock.arrow.circlepath"},
    {MainTab::Settings, u"settings", u"設定", u"gearshape"},
};

constexpr RawValueTable<TabInfo> table{tabs};

} // namespace

QList<MainTab::Value> MainTab::allCases()
{
    return table.allCases();
}

QString MainTab::rawValue(Value tab)
{
    return table.info(tab).rawValue.toString();
}

std::optional<MainTab::Value> MainTab::fromRawValue(const QString &raw)
{
    return table.fromRawValue(raw);
}

QString MainTab::label(Value tab)
{
    return table.info(tab).label.toString();
}

QString MainTab::icon(Value tab)
{
    return table.info(tab).icon.toString();
}
