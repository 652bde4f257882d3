#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <xcb/xcb.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>

class QWindow;

// The few X11 requests the application makes, in one place: atoms,
// selection owners and window-state hints. Each function either takes the
// xcb connection to use (any thread may use its own connection) or uses the
// one Qt runs on, and then answers "no" when Qt does not run on X11.
namespace X11Support {

// An xcb reply, freed with free().
struct FreeReply
{
    void operator()(void *reply) const { std::free(reply); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// The connection of the running Qt application, or null off X11.
xcb_connection_t *applicationConnection();
// The default screen of the display Qt runs on (the S of DISPLAY=":N.S").
int applicationScreenNumber();

// XCB_ATOM_NONE when the name is unknown and onlyIfExists, or on error.
xcb_atom_t internAtom(xcb_connection_t *connection, QByteArrayView name,
                      bool onlyIfExists = false);
// XCB_WINDOW_NONE when nobody owns it, or on error.
xcb_window_t selectionOwner(xcb_connection_t *connection, xcb_atom_t selection);
// Whether some client owns the selection of that name.
bool selectionOwned(xcb_connection_t *connection, QByteArrayView selectionName);

// A compositing manager runs on the screen (it owns _NET_WM_CM_S<screen>).
bool compositorRunning(xcb_connection_t *connection, int screenNumber);
// Qt's display, default screen; false off X11.
bool compositorRunning();
// A clipboard manager runs (it owns CLIPBOARD_MANAGER); false off X11.
bool clipboardManagerRunning();

// Adds _NET_WM_STATE atoms (e.g. "_NET_WM_STATE_SKIP_TASKBAR") to a window
// that is not mapped yet; the window manager reads them when it maps it.
// Creates the native window. Returns false off X11 or on error.
bool addWindowStates(QWindow *window, std::initializer_list<QByteArrayView> states);

} // namespace X11Support
