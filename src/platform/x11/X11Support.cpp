#include "X11Support.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <vector>

namespace X11Support {

xcb_connection_t *applicationConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

int applicationScreenNumber()
{
    // DISPLAY is ":N" or ":N.S"; S is the default screen.
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype dot = display.lastIndexOf('.');
    const qsizetype colon = display.lastIndexOf(':');
    if (dot > colon && colon >= 0)
        return display.mid(dot + 1).toInt();
    return 0;
}

xcb_atom_t internAtom(xcb_connection_t *connection, QByteArrayView name, bool onlyIfExists)
{
    if (!connection || name.isEmpty() || name.size() > 0xffff)
        return XCB_ATOM_NONE;
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, onlyIfExists, uint16_t(name.size()), name.data()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t selectionOwner(xcb_connection_t *connection, xcb_atom_t selection)
{
    if (!connection || selection == XCB_ATOM_NONE)
        return XCB_WINDOW_NONE;
    const Reply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr));
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

bool selectionOwned(xcb_connection_t *connection, QByteArrayView selectionName)
{
    // A selection nobody ever named has no owner: no need to create its atom.
    const xcb_atom_t selection = internAtom(connection, selectionName, true);
    return selectionOwner(connection, selection) != XCB_WINDOW_NONE;
}

bool compositorRunning(xcb_connection_t *connection, int screenNumber)
{
    return selectionOwned(connection, "_NET_WM_CM_S" + QByteArray::number(screenNumber));
}

bool compositorRunning()
{
    return compositorRunning(applicationConnection(), applicationScreenNumber());
}

bool clipboardManagerRunning()
{
    return selectionOwned(applicationConnection(), "CLIPBOARD_MANAGER");
}

bool addWindowStates(QWindow *window, std::initializer_list<QByteArrayView> states)
{
    xcb_connection_t *connection = applicationConnection();
    if (!connection || !window)
        return false;
    const xcb_atom_t property = internAtom(connection, "_NET_WM_STATE");
    std::vector<xcb_atom_t> atoms;
    for (QByteArrayView state : states) {
        const xcb_atom_t atom = internAtom(connection, state);
        if (atom == XCB_ATOM_NONE)
            return false;
        atoms.push_back(atom);
    }
    if (property == XCB_ATOM_NONE)
        return false;
    // Appended: Qt adds its own states to the same property.
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, xcb_window_t(window->winId()), property,
                        XCB_ATOM_ATOM, 32, uint32_t(atoms.size()), atoms.data());
    xcb_flush(connection);
    return true;
}

} // namespace X11Support
