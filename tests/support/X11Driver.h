#pragma once

#include <QProcess>
#include <QRect>
#include <QStringList>

#include <optional>

// Drives a real X server the way a user does, for x11 tests: windows found by
// process and title, the pointer and keys through XTest (xdotool), the
// clipboard read by another client (xclip), and the drag-source programs.
namespace X11Driver {

struct Window
{
    quint32 id = 0;
    QRect rect;            // on screen (inside the frame, where a window manager adds one)
    int depth = 0;         // 32 for an ARGB window
    QList<quint32> types;  // _NET_WM_WINDOW_TYPE atoms
};

// The viewable top-level windows whose _NET_WM_PID is `pid`.
QList<Window> windowsOf(qint64 pid);
// The first of them with this window type, e.g. "_NET_WM_WINDOW_TYPE_UTILITY".
std::optional<Window> windowOfType(qint64 pid, const QByteArray &type);
// What the close button does (WM_DELETE_WINDOW): the application decides.
void close(quint32 window);
quint32 atom(const QByteArray &name);
// The 32-bit words of a window property, of any type.
QList<quint32> property(quint32 window, const QByteArray &name);

// xdotool search by title (a regular expression), of `pid` if not 0. xdotool
// dies on an X error when a window it reads goes away (Qt makes and drops
// helper windows while it starts), so such a reading is taken again;
// nullopt only if it keeps failing.
std::optional<QStringList> findWindows(const QString &title, qint64 pid = 0,
                                       bool visibleOnly = true);

// Runs xdotool while this thread's event loop keeps running (an in-process
// X client must go on answering). True when it succeeded.
bool xdotool(const QStringList &arguments);
// What another client reads from CLIPBOARD.
QString clipboardText();
// xdotool's arguments for a hand's drag from a DragSource: a press inside its
// window, then `steps` relative moves by 20,20 px, 20 ms apart (relative
// moves make the raw motion that warps do not).
QStringList dragGesture(int steps = 2);

// A drag-source program (tests/support: pelkin-test-drag-source or
// gtk-drag-source.py), its window at 20,20 200x120, and the lines it printed.
class DragSource
{
public:
    enum class Toolkit { qt, gtk };
    // arguments: --files PATH... | --link URL | --text TEXT, [--quit-at-drop]
    DragSource(Toolkit toolkit, const QStringList &arguments);
    ~DragSource();

    bool waitForLine(const QString &prefix, int timeoutMs = 10000);
    std::optional<QString> line(const QString &prefix) const;
    // Waits for "ready", makes dragGesture(steps); true once the drag has started.
    bool beginDrag(int steps = 2);

    QProcess process;
    QStringList lines;
};

} // namespace X11Driver
