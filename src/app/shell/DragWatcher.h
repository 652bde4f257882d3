#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>

class DragEventSource;
class DropZonePresenter;
class GlobalDragMonitor;
class QTimer;

// Turns the desktop's drags into the drop zone's coming and going: a drag
// carrying files shows the zone; its end hides it again, after giving a drop
// that is on its way a moment to arrive. Main thread only.
class DragWatcher : public QObject
{
    Q_OBJECT
public:
    // How long a drag end waits for the drop it may be followed by.
    static constexpr int dropWaitMs = 500;

    DragWatcher(DropZonePresenter *dropZone, QObject *parent = nullptr);
    ~DragWatcher() override;

    // Starts watching `source`, or the desktop's drags when it is null.
    void start(std::shared_ptr<DragEventSource> source);

    static bool shouldReactToDrag(const QStringList &types);
    bool isWaitingForDrop() const;

    // The monitor's two events, as queued from its callbacks.
    void handleDragStart(const QStringList &types);
    void handleDragEnd();

private:
    void finishDragEnd();

    DropZonePresenter *m_dropZone;
    QPointer<GlobalDragMonitor> m_monitor;
    QTimer *m_dropWaitTimer;
};
