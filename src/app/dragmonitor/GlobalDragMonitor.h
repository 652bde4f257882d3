#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class DragEventSource;

// Notices that a drag started anywhere on screen (reporting its types) and
// that it ended (left button or Escape released), driven by its source's
// ordered stream of changes and releases; no timer runs. Monitoring starts in
// the constructor and lasts exactly as long as the object: there is no start
// or stop. Main thread only; the callbacks run synchronously from the
// source's signals, never after the monitor is destroyed.
class GlobalDragMonitor : public QObject
{
    Q_OBJECT
public:
    // Watches the desktop's drags: the X11 source when an X11 display is
    // reachable, otherwise the null source, in which case it logs once per
    // process that automatic drop-zone display is not available.
    explicit GlobalDragMonitor(QObject *parent = nullptr);
    // Watches the given source (tests, or a caller that chose the source).
    explicit GlobalDragMonitor(std::shared_ptr<DragEventSource> source, QObject *parent = nullptr);
    ~GlobalDragMonitor() override;

    // The X11 source if an X11 display is reachable and has the needed
    // extensions, otherwise the null source.
    static std::shared_ptr<DragEventSource> createPlatformSource();

    // False when the monitor has no drag pasteboard and will never report.
    bool isAvailable() const;

    // Called once per new drag with its types; set by the owner.
    std::function<void(const QStringList &types)> onDragStart;
    // Called once when the current drag ends; set by the owner.
    std::function<void()> onDragEnd;

private:
    void handlePasteboardChange(qint64 change, const QStringList &types);
    void handleRelease(qint64 change, int key);

    std::shared_ptr<DragEventSource> dragPasteboard;
    // The latest change consumed: reported, passed over during a drag, or
    // ended by a release before its start was reported.
    qint64 lastChangeCount = 0;
    bool isDragging = false;
};
