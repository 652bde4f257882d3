#include "WaylandSessionDragSource.h"

#include "WaylandEdgeSensor.h"
#include "X11DragEventSource.h"
#include "XWaylandDragEndProbe.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDragMonitor)

WaylandSessionDragSource::WaylandSessionDragSource(std::shared_ptr<DragEventSource> x11,
                                                   std::unique_ptr<WaylandEdgeSensor> sensor,
                                                   std::unique_ptr<XWaylandDragEndProbe> probe,
                                                   QObject *parent)
    : DragEventSource(parent)
    , m_x11(std::move(x11))
    , m_sensor(std::move(sensor))
    , m_probe(std::move(probe))
{
    if (m_x11 && !m_x11->hasDragPasteboard())
        m_x11.reset();
    if (m_sensor && !m_sensor->hasDragPasteboard())
        m_sensor.reset();
    if (m_probe && !m_probe->isValid())
        m_probe.reset();
    // The X11 source may signal from its own thread: queued, in order.
    if (m_x11) {
        connect(m_x11.get(), &DragEventSource::pasteboardChanged, this,
                [this](qint64, const QStringList &types) { changed(types, true); });
        connect(m_x11.get(), &DragEventSource::released, this,
                [this](qint64, int key) { ended(key); });
    }
    if (m_sensor) {
        connect(m_sensor.get(), &DragEventSource::pasteboardChanged, this,
                [this](qint64, const QStringList &types) { changed(types, false); });
        connect(m_sensor.get(), &DragEventSource::released, this,
                [this](qint64, int key) { ended(key); });
    }
    if (m_probe) {
        connect(m_probe.get(), &XWaylandDragEndProbe::ended, this, [this](qint64 change) {
            if (change == m_change)
                ended(0);
        });
    }
}

WaylandSessionDragSource::~WaylandSessionDragSource() = default;

bool WaylandSessionDragSource::hasDragPasteboard() const
{
    return m_x11 || m_sensor;
}

WaylandEdgeSensor *WaylandSessionDragSource::edgeSensor() const
{
    return m_sensor.get();
}

void WaylandSessionDragSource::changed(const QStringList &types, bool bridged)
{
    ++m_change;
    if (m_probe) {
        if (bridged && !types.isEmpty())
            m_probe->watch(m_change);
        else
            m_probe->stop();
    }
    emit pasteboardChanged(m_change, types);
}

void WaylandSessionDragSource::ended(int key)
{
    if (m_probe)
        m_probe->stop();
    emit released(m_change, key);
}

std::shared_ptr<DragEventSource> createWaylandAwareSource()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return nullptr;
    std::shared_ptr<DragEventSource> x11;
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        x11 = std::make_shared<X11DragEventSource>();
    auto sensor = std::make_unique<WaylandEdgeSensor>();
    std::unique_ptr<XWaylandDragEndProbe> probe;
    if (!sensor->hasDragPasteboard()) {
        // No layer shell: only drags the compositor passes on to X11 clients
        // (GNOME does, with their types) can be seen.
        qCInfo(lcDragMonitor,
               "Wayland のドラッグを画面端で検出できません（%s）。XWayland に渡されるドラッグ"
               "（GNOME など）でのみドロップゾーンが自動で表示されます",
               qPrintable(sensor->unavailableReason()));
        sensor.reset();
        if (x11 && x11->hasDragPasteboard())
            probe = std::make_unique<XWaylandDragEndProbe>();
    }
    return std::make_shared<WaylandSessionDragSource>(std::move(x11), std::move(sensor),
                                                      std::move(probe));
}
