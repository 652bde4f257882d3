#include "DragWatcher.h"

#include "DragTypes.h"
#include "DropZonePresenter.h"
#include "GlobalDragMonitor.h"
#include "WaylandEdgeSensor.h"
#include "WaylandSessionDragSource.h"

#include <QLoggingCategory>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

DragWatcher::DragWatcher(DropZonePresenter *dropZone, QObject *parent)
    : QObject(parent)
    , m_dropZone(dropZone)
    , m_dropWaitTimer(new QTimer(this))
{
    m_dropWaitTimer->setSingleShot(true);
    m_dropWaitTimer->setInterval(dropWaitMs);
    connect(m_dropWaitTimer, &QTimer::timeout, this, &DragWatcher::finishDragEnd);
    // The drop a drag end may be waiting for has come, or the zone saw the
    // drag end itself.
    connect(dropZone, &DropZonePresenter::filesDropped, m_dropWaitTimer, &QTimer::stop);
    connect(dropZone, &DropZonePresenter::dragEndedOnZone, m_dropWaitTimer, &QTimer::stop);
}

DragWatcher::~DragWatcher()
{
    delete m_monitor;
}

bool DragWatcher::shouldReactToDrag(const QStringList &types)
{
    return DragTypes::containsFileType(types);
}

void DragWatcher::start(std::shared_ptr<DragEventSource> source)
{
    delete m_monitor;
    if (!source)
        source = createWaylandAwareSource();
    // Native Wayland drags reach the edge sensor, which lies over the zone:
    // the zone learns of them, and takes their drop, from the sensor.
    const auto *wayland = dynamic_cast<WaylandSessionDragSource *>(source.get());
    WaylandEdgeSensor *sensor = wayland ? wayland->edgeSensor() : nullptr;
    m_monitor = source ? new GlobalDragMonitor(std::move(source), this)
                       : new GlobalDragMonitor(this);
    m_dropZone->setPlacedOverSensor(sensor != nullptr);
    if (sensor) {
        connect(sensor, &WaylandEdgeSensor::dragEntered, m_monitor, [this](const QList<QUrl> &files) {
            m_dropZone->sensorDragEntered(files);
        });
        connect(sensor, &WaylandEdgeSensor::dragLeft, m_monitor,
                [this] { m_dropZone->sensorDragLeft(); });
        connect(sensor, &WaylandEdgeSensor::dropped, m_monitor,
                [this](const QList<QUrl> &files) { m_dropZone->sensorDropped(files); });
    }
    QPointer<DragWatcher> self(this);
    m_monitor->onDragStart = [self](const QStringList &types) {
        if (!self || !shouldReactToDrag(types))
            return;
        QMetaObject::invokeMethod(
            self, [self, types] { self->handleDragStart(types); }, Qt::QueuedConnection);
    };
    m_monitor->onDragEnd = [self] {
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self, [self] { self->handleDragEnd(); }, Qt::QueuedConnection);
    };
}

void DragWatcher::handleDragStart(const QStringList &types)
{
    qCDebug(lcShell) << "drag start" << types;
    if (!shouldReactToDrag(types))
        return;
    // A drag end still waiting for its drop belongs to the previous drag.
    if (m_dropWaitTimer->isActive())
        finishDragEnd();
    m_dropZone->revealForDrag();
}

void DragWatcher::handleDragEnd()
{
    qCDebug(lcShell) << "drag end; hovering" << m_dropZone->isDragHovering();
    // On X11 the button release is seen a few milliseconds before the drop
    // reaches the zone. Hiding now would fade the zone out under the drop and
    // bring it back for the upload; wait for the drop instead (bounded).
    if (m_dropZone->isDragHovering()) {
        m_dropWaitTimer->start();
        return;
    }
    finishDragEnd();
}

bool DragWatcher::isWaitingForDrop() const
{
    return m_dropWaitTimer->isActive();
}

void DragWatcher::finishDragEnd()
{
    qCDebug(lcShell) << "drag end handled; waited" << m_dropWaitTimer->isActive();
    m_dropWaitTimer->stop();
    m_dropZone->concludeDrag();
}
