#pragma once

#include "DragEventSource.h"

#include <memory>

class WaylandEdgeSensor;
class XWaylandDragEndProbe;

// Drags in a Wayland session, as one ordered stream: those of X11 clients
// (and of native clients where the compositor passes them on to X11 with
// their types: GNOME) from the X11 source, native ones from the edge sensor
// where the compositor has a layer shell (sway and other wlroots compositors,
// KWin). A bridged drag's end, which nothing on X11 reports, comes from the
// end probe; it runs only where there is no sensor. Change numbers are this
// source's own; the parts' numbers are not passed on.
class WaylandSessionDragSource final : public DragEventSource
{
    Q_OBJECT
public:
    // Any part may be null.
    WaylandSessionDragSource(std::shared_ptr<DragEventSource> x11,
                             std::unique_ptr<WaylandEdgeSensor> sensor,
                             std::unique_ptr<XWaylandDragEndProbe> probe,
                             QObject *parent = nullptr);
    ~WaylandSessionDragSource() override;

    bool hasDragPasteboard() const override;
    qint64 changeCount() const override { return m_change; }

    // The sensor, when it runs: the shell takes its drops (see WaylandEdgeSensor).
    WaylandEdgeSensor *edgeSensor() const;

private:
    void changed(const QStringList &types, bool bridged);
    void ended(int key);

    std::shared_ptr<DragEventSource> m_x11;
    std::unique_ptr<WaylandEdgeSensor> m_sensor;
    std::unique_ptr<XWaylandDragEndProbe> m_probe;
    qint64 m_change = 0;
};

// In a Wayland session ($WAYLAND_DISPLAY set): the X11 source when $DISPLAY
// reaches XWayland, plus the edge sensor where the compositor has a layer
// shell, otherwise the end probe; logs once which drags cannot be seen. Null
// outside a Wayland session.
std::shared_ptr<DragEventSource> createWaylandAwareSource();
