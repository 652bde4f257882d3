#include "ClipboardKeeper.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

ClipboardKeeper::ClipboardKeeper(QObject *parent)
    : QObject(parent)
{}

bool ClipboardKeeper::clipboardManagerPresent()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        return false;
    }
    static const char name[] = "CLIPBOARD_MANAGER";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(std::strlen(name)), name), nullptr);
    if (!atom) {
        return false;
    }
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE) {
        return false;
    }
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!owner) {
        return false;
    }
    const bool present = owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return present;
}

void ClipboardKeeper::keepUntilReleased()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString platform = QGuiApplication::platformName();
    const bool x11 = platform == QLatin1String("xcb");
    const bool wayland = platform.startsWith(QLatin1String("wayland"));
    m_serving = (x11 || wayland) && clipboard->ownsClipboard();
    if (m_serving && x11 && clipboardManagerPresent()) {
        m_serving = false;
    }
    if (!m_serving) {
        QMetaObject::invokeMethod(this, &ClipboardKeeper::released, Qt::QueuedConnection);
        return;
    }
    connect(clipboard, &QClipboard::changed, this, [this, clipboard](QClipboard::Mode mode) {
        if (m_serving && mode == QClipboard::Clipboard && !clipboard->ownsClipboard()) {
            m_serving = false;
            emit released();
        }
    });
}
