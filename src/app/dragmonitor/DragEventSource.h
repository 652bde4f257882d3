#pragma once

#include <QObject>
#include <QStringList>

// Where GlobalDragMonitor learns of drags: one ordered stream of pasteboard
// changes and releases, nothing to poll. One X11 implementation, one null
// implementation, fakes in tests.
class DragEventSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // False when this desktop has no drag pasteboard to watch; the monitor
    // then stays idle for ever.
    virtual bool hasDragPasteboard() const = 0;
    // The change number of the latest drag put on the pasteboard; a monitor
    // takes it as its baseline when it is constructed.
    virtual qint64 changeCount() const = 0;

signals:
    // A new drag was put on the pasteboard: its change number and its types,
    // already filtered by the source's rules (empty when of no interest).
    // Emitted in the order things happened.
    void pasteboardChanged(qint64 change, const QStringList &types);
    // The drag ended: the left button went up (key == 0) or a key went up (a
    // Qt::Key, Qt::Key_unknown for keys the source does not name), stamped
    // with the change number current when it happened.
    void released(qint64 change, int key);
};
