#pragma once

#include "DragEventSource.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>

#include <atomic>
#include <cstdint>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

class QSocketNotifier;
class QThread;
class QTimer;

// Drags of any X11 client, seen from a private xcb connection: every change
// of the XdndSelection owner (XFixes) is a new drag, its types come from
// converting the selection and from XdndTypeList, and the releases come from
// XInput 2.2 raw events on the root window, which arrive during the drag
// source's pointer grab. The connection is read on a thread of its own, so a
// busy main thread cannot make us ask for the types too late; the signals
// reach receivers in other threads queued.
class X11DragEventSource final : public DragEventSource
{
    Q_OBJECT
public:
    // Longest wait for the drag source's answers before a change is published
    // with what is known.
    static constexpr int typesTimeoutMs = 100;

    // Connects to $DISPLAY; without a usable display, or without XFixes,
    // hasDragPasteboard() is false.
    explicit X11DragEventSource(QObject *parent = nullptr);
    ~X11DragEventSource() override;

    bool hasDragPasteboard() const override { return available; }
    qint64 changeCount() const override;
    QStringList types() const override;

private:
    bool setUp();
    void startWatching();
    void readEvents();
    void handleEvent(xcb_generic_event_t *event);
    void beginRound(uint32_t owner, uint32_t timestamp);
    void handleSelectionReply(uint32_t answeredTarget, uint32_t property, uint32_t time);
    void handleRawEvent(xcb_generic_event_t *event);
    bool selectRawEvents();
    void ask(uint32_t target, uint32_t time);
    void publishRound();
    QStringList readTypeList(uint32_t window);
    QString atomName(uint32_t atom);
    uint32_t internAtom(const char *name);

    xcb_connection_t *connection = nullptr;
    xcb_key_symbols_t *keySymbols = nullptr;
    // Once constructed, only the watcher thread uses the connection and what
    // follows, apart from `available` and the published state.
    QThread *watcher = nullptr;
    QObject *context = nullptr; // lives in the watcher thread
    QSocketNotifier *notifier = nullptr;
    QTimer *roundTimer = nullptr;
    std::atomic<bool> available = false;
    bool releasesWatched = false;
    uint32_t root = 0;
    uint32_t window = 0;
    uint8_t xfixesFirstEvent = 0;
    uint8_t xinputOpcode = 0;

    struct Atoms
    {
        uint32_t xdndSelection = 0, xdndTypeList = 0, targets = 0, incr = 0;
        uint32_t uriList = 0, iconList = 0, textPlain = 0;
    } atoms;
    QHash<uint32_t, QString> atomNames;
    // One property of our window per probed target, so answers cannot overwrite each other.
    QHash<uint32_t, uint32_t> probeProperty;

    struct Question
    {
        uint32_t target;
        uint32_t time;
    };
    // The drag whose types are being learnt.
    struct Round
    {
        bool open = false;
        qint64 count = 0;
        uint32_t owner = 0;
        uint32_t timestamp = 0;
        QList<Question> pending;
        QStringList typeList;   // from XdndTypeList
        QStringList answered;   // targets the source converted
        QStringList advertised; // from TARGETS
        bool uriListRead = false;
        bool uriListHasFile = false;
    } round;

    qint64 notifyCount = 0;
    mutable QMutex publishedLock;
    qint64 publishedCount = 0;
    QStringList publishedTypes;
};
