#pragma once

#include <QObject>
#include <QRect>

#include <optional>

class QMenu;
class QSystemTrayIcon;

// The tray icon: the monochrome character at tray size, a highlighted
// variant while a file drag is on its way to the drop zone, a click that
// brings back the main window and a small menu (open, quit) for trays that
// show one on right click.
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

signals:
    void clicked();
    void quitRequested();

private:
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu = nullptr;
    bool m_highlighted = false;
};
