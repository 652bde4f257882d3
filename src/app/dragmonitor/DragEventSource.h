#pragma once

#include <QObject>
#include <QStringList>

// Where GlobalDragMonitor gets its two signals from: a drag pasteboard with a
// change count and a type list, and global release events. One X11
// implementation, one null implementation, fakes in tests.
class DragEventSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // False when this desktop has no drag pasteboard to watch; the monitor
    // then stays idle for ever.
    virtual bool hasDragPasteboard() const = 0;
    // Grows by at least one whenever a new drag is put on the pasteboard.
    virtual qint64 changeCount() const = 0;
    // The current drag's types, unfiltered apart from the source's own rules.
    virtual QStringList types() const = 0;

signals:
    // The left button went up anywhere on screen.
    void leftMouseReleased();
    // A key went up anywhere on screen; key is a Qt::Key (Qt::Key_unknown
    // for keys the source does not name). Key presses are never reported.
    void keyReleased(int key);
};
