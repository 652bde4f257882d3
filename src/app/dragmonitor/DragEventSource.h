#pragma once

#include <QObject>
#include <QStringList>

// Where GlobalDragMonitor learns of drags: a stream of new drags (a change
// number and the drag's types) and of their ends, in the order they happened.
// One X11 implementation, Wayland-session helpers, a null implementation,
// fakes in tests.
class DragEventSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // False when this desktop has no drag pasteboard to watch; the monitor
    // then stays idle for ever.
    virtual bool hasDragPasteboard() const = 0;
    // For the baseline taken at construction.
    virtual qint64 changeCount() const = 0;

    // Transitional, for the polling monitor until the event-driven one lands:
    // the latest drag's types. Sources written against the stream ignore it.
    virtual QStringList types() const { return {}; }

signals:
    // A new drag: its change number and its types, filtered by the source's
    // rules (empty when of no interest). Emitted in the order things happened.
    void pasteboardChanged(qint64 change, const QStringList &types);
    // The drag ended: left button up (key == 0) or a key up (a Qt::Key),
    // stamped with the change number current when it happened.
    void released(qint64 change, int key);

    // Transitional (see types()).
    void leftMouseReleased();
    void keyReleased(int key);
};
