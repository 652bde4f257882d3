#include "StatusItem.h"

#include "ThemeFollower.h"

#include <QAction>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {
QIcon iconAt(const QString &path)
{
    return QFile::exists(path) ? QIcon(path) : QIcon();
}
} // namespace

StatusItem::StatusItem(QObject *parent)
    : QObject(parent)
    , m_tray(new QSystemTrayIcon(this))
    , m_menu(new QMenu)
{
    m_tray->setToolTip(QStringLiteral("Pelkin Drop"));
    // Without the artwork the icon stays empty, and the main window remains
    // the way in.
    updateIcon();
    m_menu->addAction(QStringLiteral("ウインドウを表示"), this, &StatusItem::clicked);
    m_menu->addSeparator();
    m_autostartAction = m_menu->addAction(QStringLiteral("ログイン時に起動"));
    m_autostartAction->setObjectName(QStringLiteral("autostartAction"));
    m_autostartAction->setCheckable(true);
    m_autostartAction->setChecked(m_autostart.isEnabled());
    connect(m_autostartAction, &QAction::triggered, this, &StatusItem::setAutostart);
    // The entry may have changed behind our back (session settings, a file
    // manager): the menu shows the file as it is when it opens.
    connect(m_menu, &QMenu::aboutToShow, this,
            [this] { m_autostartAction->setChecked(m_autostart.isEnabled()); });
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Pelkin Drop を終了"), this, &StatusItem::quitRequested);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick ||
            r == QSystemTrayIcon::MiddleClick)
            emit clicked();
    });
    connect(ThemeFollower::shared(), &ThemeFollower::systemDarkChanged, this,
            &StatusItem::updateIcon);
    if (!m_tray->icon().isNull())
        m_tray->show();
}

StatusItem::~StatusItem()
{
    m_tray->hide();
    delete m_menu;
}

void StatusItem::setHighlighted(bool highlighted)
{
    if (m_highlighted == highlighted)
        return;
    m_highlighted = highlighted;
    updateIcon();
}

QString StatusItem::iconPath() const
{
    // The lit variant is blue with a dark rim: it stands out on both.
    if (m_highlighted)
        return QStringLiteral(":/pelkin/DropCharacterTrayHighlighted.png");
    return ThemeFollower::shared()->systemDark() ? QStringLiteral(":/pelkin/DropCharacterTrayDark.png")
                : QStringLiteral(":/pelkin/DropCharacterTray.png");
}

void StatusItem::updateIcon()
{
    const QIcon icon = iconAt(iconPath());
    if (!icon.isNull())
        m_tray->setIcon(icon);
}

void StatusItem::setAutostart(bool enabled)
{
    if (!m_autostart.setEnabled(enabled)) {
        m_autostartAction->setChecked(m_autostart.isEnabled());
        emit autostartFailed(m_autostart.errorString());
    }
}

std::optional<QRect> StatusItem::geometry() const
{
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !m_tray->isVisible())
        return std::nullopt;
    const QRect rect = m_tray->geometry();
    if (!rect.isValid() || rect.isEmpty())
        return std::nullopt;
    return rect;
}
