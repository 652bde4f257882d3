#pragma once

#include "DragEventSource.h"
#include "DragTypeFilter.h"

#include <QHash>
#include <QList>

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
// busy main thread cannot make us ask for the types too late; the signals are
// emitted from that thread in the order the X server sent what caused them,
// and reach receivers in other threads queued, in that order. Nothing runs
// while no drag is under way: the only timer is the wait for a new drag's
// types.
class X11DragEventSource final : public DragEventSource
{
    Q_OBJECT
public:
    // Longest wait for the drag source's answers before a change is reported
    // with what is known.
    static constexpr int typesTimeoutMs = 100;
    // When nothing at all is known by then, the longest wait for a slow source.
    static constexpr int silentSourceTimeoutMs = 1000;

    // Connects to $DISPLAY; without a usable display, or without XFixes,
    // hasDragPasteboard() is false.
    explicit X11DragEventSource(QObject *parent = nullptr);
    ~X11DragEventSource() override;

    bool hasDragPasteboard() const override { return available; }
    qint64 changeCount() const override { return notifyCount; }

private:
    bool setUp();
    void startWatching();
    void readEvents();
    void handleEvent(xcb_generic_event_t *event);
    void beginRound(uint32_t owner, uint32_t timestamp);
    void handleSelectionReply(uint32_t answeredTarget, uint32_t property, uint32_t time);
    void handleRawEvent(xcb_generic_event_t *event);
    void reportRelease(int key);
    bool selectRawEvents(bool withMotion, bool checked);
    void askAll(uint32_t time);
    void askAgain();
    void ask(uint32_t target, uint32_t time);
    void publishRound();
    QStringList readTypeList(uint32_t window);
    QString atomName(uint32_t atom);
    uint32_t internAtom(const char *name);

    xcb_connection_t *connection = nullptr;
    xcb_key_symbols_t *keySymbols = nullptr;
    // Once constructed, only the watcher thread uses the connection and what
    // follows, apart from `available` and `notifyCount`.
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
        uint32_t askedTime = 0;
        uint32_t motionTime = 0; // of the latest raw motion since the change
        int waitedMs = 0;
        // Raw motion is watched only while a round is open (see askAll).
        bool watchingMotion = false;
        QList<Question> pending;
        DragTypeFilter::Offer offer;
    } round;

    // Written by the watcher thread only.
    std::atomic<qint64> notifyCount = 0;
    // The change the latest reported release was stamped with: a second
    // release of the same change can end nothing more, so it is not sent.
    qint64 releasedChange = 0;
};
