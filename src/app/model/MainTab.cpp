#include "MainTab.h"

namespace {

struct TabInfo
{
    MainTab::Value tab;
    QStringView rawValue;
    QStringView label;
    QStringView icon;
};

constexpr TabInfo tabs[] = {
    {MainTab::Home, u"home", u"アップロード", u"square.and.arrow.up"},
    {MainTab::History, u"history", u"履歴", u"clock.arrow.circlepath"},
    {MainTab::Settings, u"settings", u"設定", u"gearshape"},
};

const TabInfo &info(MainTab::Value tab)
{
    for (const TabInfo &entry : tabs) {
        if (entry.tab == tab)
            return entry;
    }
    return tabs[0];
}

} // namespace

QList<MainTab::Value> MainTab::allCases()
{
    QList<Value> cases;
    for (const TabInfo &entry : tabs)
        cases.append(entry.tab);
    return cases;
}

QString MainTab::rawValue(Value tab)
{
    return info(tab).rawValue.toString();
}

std::optional<MainTab::Value> MainTab::fromRawValue(const QString &raw)
{
    for (const TabInfo &entry : tabs) {
        if (entry.rawValue == raw)
            return entry.tab;
    }
    return std::nullopt;
}

QString MainTab::label(Value tab)
{
    return info(tab).label.toString();
}

QString MainTab::icon(Value tab)
{
    return info(tab).icon.toString();
}
