#include "X11DragEventSource.h"

#include "X11Support.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcDragMonitor)

namespace {

constexpr xcb_keysym_t escapeKeysym = 0xff1b;

template<typename T> using XcbPtr = X11Support::Reply<T>;

} // namespace

X11DragEventSource::X11DragEventSource(QObject *parent)
    : DragEventSource(parent)
{
    if (!setUp()) {
        if (connection)
            xcb_disconnect(connection);
        connection = nullptr;
        return;
    }
    available = true;

    // From here on the connection belongs to the watcher thread.
    watcher = new QThread;
    watcher->setObjectName(QStringLiteral("pelkin-drag-watcher"));
    context = new QObject;
    context->moveToThread(watcher);
    connect(watcher, &QThread::started, context, [this] { startWatching(); });
    // Runs in the watcher thread, so the notifier and timer die where they live.
    connect(
        watcher, &QThread::finished, context,
        [this] {
            delete notifier;
            delete roundTimer;
            notifier = nullptr;
            roundTimer = nullptr;
        },
        Qt::DirectConnection);
    watcher->start();
}

X11DragEventSource::~X11DragEventSource()
{
    if (watcher) {
        watcher->quit();
        watcher->wait();
        delete context;
        delete watcher;
    }
    if (keySymbols)
        xcb_key_symbols_free(keySymbols);
    if (connection)
        xcb_disconnect(connection);
}

bool X11DragEventSource::setUp()
{
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        connection = nullptr;
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return false;
    root = screens.data->root;

    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return false;
    xfixesFirstEvent = xfixes->first_event;
    XcbPtr<xcb_xfixes_query_version_reply_t> xfixesVersion(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, 5, 0), nullptr));
    if (!xfixesVersion || xfixesVersion->major_version < 1)
        return false;

    atoms.xdndSelection = internAtom("XdndSelection");
    atoms.xdndTypeList = internAtom("XdndTypeList");
    atoms.targets = internAtom("TARGETS");
    atoms.incr = internAtom("INCR");
    atoms.uriList = internAtom("text/uri-list");
    atoms.iconList = internAtom("x-special/gnome-icon-list");
    atoms.textPlain = internAtom("text/plain");
    for (uint32_t target : {atoms.targets, atoms.uriList, atoms.iconList, atoms.textPlain}) {
        const QByteArray name = "_PELKIN_DRAG_PROBE_" + QByteArray::number(target);
        probeProperty.insert(target, internAtom(name.constData()));
    }
    if (!atoms.xdndSelection || probeProperty.values().contains(0u))
        return false;

    // A private unmapped window: requestor of our conversions and receiver
    // of the selection notifications.
    window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    // Checked, so the selection is in force once we report ourselves ready.
    XcbPtr<xcb_generic_error_t> selectError(xcb_request_check(
        connection, xcb_xfixes_select_selection_input_checked(
                        connection, window, atoms.xdndSelection,
                        XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                            XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                            XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE)));
    if (selectError)
        return false;

    // Raw events of the master devices: delivered during other clients'
    // grabs and once per event (all devices would deliver every event twice).
    const xcb_query_extension_reply_t *xinput = xcb_get_extension_data(connection, &xcb_input_id);
    if (xinput && xinput->present) {
        XcbPtr<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
            connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
        if (version && (version->major_version > 2 ||
                        (version->major_version == 2 && version->minor_version >= 2))) {
            xinputOpcode = xinput->major_opcode;
            releasesWatched = selectRawEvents(false, true);
        }
    }
    if (!releasesWatched)
        qCWarning(lcDragMonitor, "XInput 2.2 is not available: drag ends will not be seen");
    keySymbols = xcb_key_symbols_alloc(connection);
    xcb_flush(connection);
    return !xcb_connection_has_error(connection);
}

void X11DragEventSource::startWatching()
{
    roundTimer = new QTimer(context);
    roundTimer->setSingleShot(true);
    roundTimer->setInterval(typesTimeoutMs);
    connect(roundTimer, &QTimer::timeout, context, [this] {
        // The answers may be waiting although the timer fired first: use
        // them before giving up.
        readEvents();
        if (!round.open)
            return;
        // Knowing nothing would lose the drag: a source that is still busy
        // answering (a loaded machine) gets longer, up to a bound.
        const DragTypeFilter::Offer &offer = round.offer;
        const bool nothingKnown =
            offer.typeList.isEmpty() && offer.answered.isEmpty() && offer.advertised.isEmpty();
        if (nothingKnown && round.waitedMs < silentSourceTimeoutMs) {
            round.waitedMs += typesTimeoutMs;
            roundTimer->start();
            return;
        }
        publishRound();
        readEvents();
    });
    notifier =
        new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, context);
    connect(notifier, &QSocketNotifier::activated, context, [this] { readEvents(); });
    // The blocking calls of the set-up may have queued events inside xcb,
    // where the socket notifier never sees them.
    readEvents();
}

bool X11DragEventSource::selectRawEvents(bool withMotion, bool checked)
{
    struct
    {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE |
                    XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
                    (withMotion ? uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_MOTION) : 0u)};
    if (!checked) {
        xcb_input_xi_select_events(connection, root, 1, &selection.head);
        return true;
    }
    XcbPtr<xcb_generic_error_t> error(xcb_request_check(
        connection, xcb_input_xi_select_events_checked(connection, root, 1, &selection.head)));
    return !error;
}

uint32_t X11DragEventSource::internAtom(const char *name)
{
    const xcb_atom_t atom = X11Support::internAtom(connection, name);
    if (atom != XCB_ATOM_NONE)
        atomNames.insert(atom, QString::fromLatin1(name));
    return atom;
}

QString X11DragEventSource::atomName(uint32_t atom)
{
    if (const auto it = atomNames.constFind(atom); it != atomNames.constEnd())
        return *it;
    XcbPtr<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    if (!reply)
        return {};
    const QString name = QString::fromUtf8(xcb_get_atom_name_name(reply.get()),
                                           xcb_get_atom_name_name_length(reply.get()));
    atomNames.insert(atom, name);
    return name;
}

void X11DragEventSource::readEvents()
{
    if (!connection)
        return;
    // Blocking replies inside the handlers may queue further events without
    // the socket becoming readable again, so drain until the queue is empty.
    while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
        handleEvent(event);
        std::free(event);
    }
    if (xcb_connection_has_error(connection)) {
        qCWarning(lcDragMonitor, "lost the X11 connection: drags are no longer watched");
        notifier->setEnabled(false);
        roundTimer->stop();
        available = false;
    }
}

void X11DragEventSource::handleEvent(xcb_generic_event_t *event)
{
    const uint8_t type = event->response_type & 0x7f;
    if (type == 0) // an error of a request sent without a reply cookie
        return;
    if (type == xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto *notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t *>(event);
        qCDebug(lcDragMonitor) << "selection notify owner" << notify->owner << "subtype"
                               << notify->subtype << "time" << notify->selection_timestamp;
        // A drag puts a new owner on XdndSelection; losing the owner is no new drag.
        if (notify->selection == atoms.xdndSelection && notify->owner != XCB_NONE)
            beginRound(notify->owner, notify->selection_timestamp);
    } else if (type == XCB_SELECTION_NOTIFY) {
        const auto *reply = reinterpret_cast<xcb_selection_notify_event_t *>(event);
        if (reply->requestor == window && reply->selection == atoms.xdndSelection)
            handleSelectionReply(reply->target, reply->property, reply->time);
    } else if (type == XCB_GE_GENERIC) {
        handleRawEvent(event);
    } else if (type == XCB_MAPPING_NOTIFY && keySymbols) {
        xcb_refresh_keyboard_mapping(keySymbols,
                                     reinterpret_cast<xcb_mapping_notify_event_t *>(event));
    }
}

void X11DragEventSource::beginRound(uint32_t owner, uint32_t timestamp)
{
    // A newer drag supersedes one whose types are still being learnt.
    round = Round{};
    round.open = true;
    round.count = ++notifyCount;
    round.waitedMs = typesTimeoutMs;
    round.owner = owner;
    round.timestamp = timestamp;
    round.offer.typeList = readTypeList(owner);
    // Should the pointer move on before the source reads our questions, they
    // are refused; the time of a later motion is then the source's time.
    round.watchingMotion = releasesWatched && selectRawEvents(true, false);
    // Asked at once with the time of the ownership change: a Qt source answers
    // only to the time of its latest position message, which is that time
    // until the pointer moves on, and never to CurrentTime. Hence this runs on
    // our own thread: a busy main thread would ask too late.
    askAll(timestamp);
    roundTimer->start();
}

void X11DragEventSource::askAll(uint32_t time)
{
    round.askedTime = time;
    for (uint32_t target : {atoms.targets, atoms.uriList, atoms.iconList, atoms.textPlain})
        ask(target, time);
    xcb_flush(connection);
}

void X11DragEventSource::ask(uint32_t target, uint32_t time)
{
    xcb_convert_selection(connection, window, atoms.xdndSelection, target,
                          probeProperty.value(target), time);
    round.pending.append({target, time});
}

QStringList X11DragEventSource::readTypeList(uint32_t owner)
{
    QStringList names;
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, owner, atoms.xdndTypeList, XCB_ATOM_ATOM, 0, 1024),
        nullptr));
    if (!reply || reply->type != XCB_ATOM_ATOM || reply->format != 32)
        return names;
    const auto *list = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
    const int n = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < n; ++i) {
        const QString name = atomName(list[i]);
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

void X11DragEventSource::handleSelectionReply(uint32_t answeredTarget, uint32_t property,
                                              uint32_t time)
{
    qCDebug(lcDragMonitor) << "selection reply, property" << property << "time" << time;
    // An answer belongs to the open question it names; mutter's XWayland
    // bridge answers out of order (refusals at once, the rest later). A
    // refusal may name no target: it belongs to the oldest question. Answers
    // to an earlier drag's questions carry that drag's time.
    if (!round.open || round.pending.isEmpty() || time != round.pending.first().time)
        return;
    qsizetype index = 0;
    for (qsizetype i = 0; i < round.pending.size(); ++i) {
        if (round.pending[i].target == answeredTarget) {
            index = i;
            break;
        }
    }
    const uint32_t target = round.pending.takeAt(index).target;
    if (property != XCB_NONE) {
        XcbPtr<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(connection,
                                   xcb_get_property(connection, 1, window, property,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 16),
                                   nullptr));
        if (reply && reply->type != XCB_NONE) {
            const char *value = static_cast<const char *>(xcb_get_property_value(reply.get()));
            const int length = xcb_get_property_value_length(reply.get());
            if (target == atoms.targets) {
                if (reply->format == 32) {
                    const auto *list = reinterpret_cast<const uint32_t *>(value);
                    for (int i = 0; i < length / 4; ++i)
                        round.offer.advertised.append(atomName(list[i]));
                }
            } else {
                round.offer.answered.append(atomName(target));
                if (target == atoms.uriList) {
                    // A list too long for one property (INCR) is not read; so
                    // many URIs are taken to be files.
                    round.offer.uriListTooLong = reply->type == atoms.incr;
                    round.offer.uriList = QByteArray(value, length);
                }
            }
        }
    }
    if (!round.pending.isEmpty())
        return;
    if (!round.offer.answered.isEmpty() || !round.offer.advertised.isEmpty() ||
        !round.watchingMotion)
        publishRound();
    else // everything refused: asked again at the latest motion, now or when it comes
        askAgain();
}

void X11DragEventSource::askAgain()
{
    if (round.motionTime == 0 || round.motionTime == round.askedTime)
        return;
    qCDebug(lcDragMonitor) << "asking again at" << round.motionTime;
    askAll(round.motionTime);
}

void X11DragEventSource::publishRound()
{
    if (!round.open)
        return;
    round.open = false;
    roundTimer->stop();
    if (round.watchingMotion) {
        selectRawEvents(false, false);
        xcb_flush(connection);
        round.watchingMotion = false;
    }
    // Some sources set the type list only after the drag has begun.
    if (round.offer.typeList.isEmpty())
        round.offer.typeList = readTypeList(round.owner);
    const QStringList types = DragTypeFilter::reportedTypes(round.offer);
    qCDebug(lcDragMonitor) << "change" << round.count << types;
    emit pasteboardChanged(round.count, types);
}

void X11DragEventSource::handleRawEvent(xcb_generic_event_t *event)
{
    const auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(event);
    if (!releasesWatched || generic->extension != xinputOpcode)
        return;
    if (generic->event_type == XCB_INPUT_RAW_MOTION) {
        const auto *motion = reinterpret_cast<xcb_input_raw_motion_event_t *>(event);
        if (round.open) {
            round.motionTime = motion->time;
            // All questions refused: the source has moved on to this time.
            if (round.pending.isEmpty())
                askAgain();
        }
    } else if (generic->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
        const auto *key = reinterpret_cast<xcb_input_raw_key_release_event_t *>(event);
        bool escape = false;
        if (XcbPtr<xcb_keycode_t> codes{
                keySymbols ? xcb_key_symbols_get_keycode(keySymbols, escapeKeysym) : nullptr}) {
            for (const xcb_keycode_t *code = codes.get(); *code != XCB_NO_SYMBOL; ++code)
                escape = escape || *code == key->detail;
        }
        // Other keys end nothing: not sent, so typing wakes no other thread.
        if (escape)
            reportRelease(Qt::Key_Escape);
    } else if (generic->event_type == XCB_INPUT_RAW_BUTTON_RELEASE) {
        const auto *button = reinterpret_cast<xcb_input_raw_button_release_event_t *>(event);
        // Wheel steps are press/release pairs of buttons 4 to 7.
        if (button->detail >= 4 && button->detail <= 7)
            return;
        // The raw button is the physical one; the pointer state tells whether
        // the logical buttons are all up (left-handed maps swap 1 and 3).
        XcbPtr<xcb_query_pointer_reply_t> pointer(
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr));
        constexpr uint16_t held =
            XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3;
        if (pointer && !(pointer->mask & held))
            reportRelease(0);
    }
}

void X11DragEventSource::reportRelease(int key)
{
    // Stamped with the latest change, also one whose types are still being
    // learnt: its report follows, and the monitor knows that drag is over.
    const qint64 change = notifyCount;
    if (change == releasedChange)
        return;
    releasedChange = change;
    qCDebug(lcDragMonitor) << "release" << key << "at change" << change;
    emit released(change, key);
}
