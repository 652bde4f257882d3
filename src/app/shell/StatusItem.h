#pragma once

#include "AutostartEntry.h"

#include <QObject>
#include <QRect>

#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

// The tray icon: the monochrome character at tray size, a highlighted
// variant while a file drag is on its way to the drop zone, a click that
// brings back the main window and a small menu (open, start at login, quit)
// for trays that show one on right click. The icon is drawn for the panel's
// style: light artwork when the desktop says it prefers a dark appearance.
//
// Trays that embed the icon as an X11 window (XEmbed) report its geometry
// about half a second after it is shown; StatusNotifierItem trays and a
// desktop without a tray report none, and the caller falls back to another
// anchor.
class StatusItem : public QObject
{
    Q_OBJECT
public:
    explicit StatusItem(QObject *parent = nullptr);
    ~StatusItem() override;

    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return m_highlighted; }

    // The icon's rectangle on screen, when a tray shows it and says where.
    std::optional<QRect> geometry() const;

    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QAction *autostartAction() const { return m_autostartAction; }
    // The icon file shown now.
    QString iconPath() const;

signals:
    void clicked();
    void quitRequested();
    // "ログイン時に起動" could not write or remove the entry.
    void autostartFailed(const QString &message);

private:
    void updateIcon();
    void setAutostart(bool enabled);

    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_autostartAction = nullptr;
    AutostartEntry m_autostart;
    bool m_highlighted = false;
};
