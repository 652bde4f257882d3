#include "XWaylandDragEndProbe.h"

#include "X11Support.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdlib>

Q_DECLARE_LOGGING_CATEGORY(lcDragMonitor)

XWaylandDragEndProbe::XWaylandDragEndProbe(QObject *parent)
    : QObject(parent)
{
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    m_window = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screens.data->root, -1, -1, 1,
                      1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    m_selection = X11Support::internAtom(m_connection, "XdndSelection");
    m_targets = X11Support::internAtom(m_connection, "TARGETS");
    m_property = X11Support::internAtom(m_connection, "PELKIN_DRAG_END_PROBE");
    xcb_flush(m_connection);

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection),
                                     QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &XWaylandDragEndProbe::readEvents);
    m_timer = new QTimer(this);
    m_timer->setInterval(probeIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &XWaylandDragEndProbe::ask);
}

XWaylandDragEndProbe::~XWaylandDragEndProbe()
{
    delete m_notifier;
    if (m_connection)
        xcb_disconnect(m_connection);
}

void XWaylandDragEndProbe::watch(qint64 change)
{
    if (!m_connection)
        return;
    m_change = change;
    m_watching = true;
    m_confirmed = false;
    m_timer->start();
    ask();
}

void XWaylandDragEndProbe::stop()
{
    m_watching = false;
    if (m_timer)
        m_timer->stop();
}

void XWaylandDragEndProbe::ask()
{
    // One question at a time: answers carry no request id, only the order. An
    // owner that hangs is asked again after a while.
    if (!m_watching || (m_asking && ++m_unanswered < 5))
        return;
    m_asking = true;
    m_unanswered = 0;
    xcb_convert_selection(m_connection, m_window, m_selection, m_targets, m_property,
                          XCB_CURRENT_TIME);
    xcb_flush(m_connection);
}

void XWaylandDragEndProbe::readEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
            const auto *notify = reinterpret_cast<xcb_selection_notify_event_t *>(event);
            if (notify->requestor == m_window && notify->selection == m_selection) {
                if (notify->property != XCB_ATOM_NONE)
                    xcb_delete_property(m_connection, m_window, notify->property);
                answered(notify->property == XCB_ATOM_NONE);
            }
        }
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection)) {
        qCWarning(lcDragMonitor, "the X11 connection of the drag end probe broke");
        m_notifier->setEnabled(false);
        stop();
    }
    xcb_flush(m_connection);
}

void XWaylandDragEndProbe::answered(bool refused)
{
    m_asking = false;
    if (!m_watching)
        return;
    if (!refused) {
        m_confirmed = true;
        return;
    }
    stop();
    qCDebug(lcDragMonitor) << "drag end probe: refused; confirmed before" << m_confirmed;
    if (m_confirmed)
        emit ended(m_change);
    else
        emit unwatchable(m_change);
}
