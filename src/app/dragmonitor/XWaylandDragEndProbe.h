#pragma once

#include <QObject>

#include <cstdint>

#include <xcb/xcb.h>

class QSocketNotifier;
class QTimer;

// Tells when a native Wayland drag that XWayland passes on to X11 clients has
// ended, where nothing else on X11 does: while the drag lasts, the bridge
// answers a conversion of XdndSelection to TARGETS (GNOME: from any client,
// KWin: likewise); once it is over, it refuses. So while a drag is watched,
// the selection is asked for its targets every probeIntervalMs; the first
// refusal after an answer is the drag's end. A drag whose owner refuses from
// the first question (an X11 drag source answers only its drop target, sway's
// bridge only the window under the pointer) is left to other signals. No
// timer runs while no drag is watched. Main thread only.
class XWaylandDragEndProbe final : public QObject
{
    Q_OBJECT
public:
    static constexpr int probeIntervalMs = 150;

    // Connects to $DISPLAY; isValid() is false without a usable display.
    explicit XWaylandDragEndProbe(QObject *parent = nullptr);
    ~XWaylandDragEndProbe() override;

    bool isValid() const { return m_connection != nullptr; }

    // Starts watching the drag now on XdndSelection (replacing any other).
    void watch(qint64 change);
    void stop();
    bool isWatching() const { return m_watching; }

signals:
    // The watched drag has ended (its owner answered, then refused or went).
    void ended(qint64 change);
    // The owner refused the first question: this drag cannot be watched.
    void unwatchable(qint64 change);

private:
    void ask();
    void readEvents();
    void answered(bool refused);

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = 0;
    xcb_atom_t m_selection = 0;
    xcb_atom_t m_targets = 0;
    xcb_atom_t m_property = 0;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
    bool m_watching = false;
    bool m_asking = false;
    bool m_confirmed = false;
    int m_unanswered = 0;
    qint64 m_change = 0;
};
