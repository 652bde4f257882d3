#include "StatusItem.h"

#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {
const QString iconPath = QStringLiteral(":/pelkin/DropCharacterTray.png");
const QString highlightedIconPath = QStringLiteral(":/pelkin/DropCharacterTrayHighlighted.png");

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
    m_tray->setIcon(iconAt(iconPath));
    m_menu->addAction(QStringLiteral("ウインドウを表示"), this, &StatusItem::clicked);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Pelkin Drop を終了"), this, &StatusItem::quitRequested);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick ||
            r == QSystemTrayIcon::MiddleClick)
            emit clicked();
    });
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
    const QIcon variant = iconAt(highlighted ? highlightedIconPath : iconPath);
    if (!variant.isNull())
        m_tray->setIcon(variant);
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
