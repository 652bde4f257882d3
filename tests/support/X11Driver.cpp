#include "X11Driver.h"

#include <QTest>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace X11Driver {
namespace {

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T> using Reply = std::unique_ptr<T, Free>;

xcb_connection_t *connection()
{
    static xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    return c;
}

xcb_window_t root()
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

// Runs a short program with the event loop going; its standard output, or
// nullopt if it failed.
std::optional<QByteArray> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000)) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Window managers (KWin, mutter under XWayland) put top-levels into frames.
void collect(xcb_window_t parent, qint64 pid, int level, QList<Window> &found)
{
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection(), xcb_query_tree(connection(), parent), nullptr));
    if (!tree)
        return;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const xcb_window_t window = children[i];
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection(), xcb_get_window_attributes(connection(), window), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        if (property(window, "_NET_WM_PID") != QList<quint32>{quint32(pid)}) {
            if (level < 2)
                collect(window, pid, level + 1, found);
            continue;
        }
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection(), xcb_get_geometry(connection(), window), nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
            connection(), xcb_translate_coordinates(connection(), window, root(), 0, 0), nullptr));
        if (geometry && origin)
            found.append({window, QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height),
                          geometry->depth, property(window, "_NET_WM_WINDOW_TYPE")});
    }
}

} // namespace

quint32 atom(const QByteArray &name)
{
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection(), xcb_intern_atom(connection(), 0, uint16_t(name.size()), name.data()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QList<quint32> property(quint32 window, const QByteArray &name)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 16),
        nullptr));
    if (!reply || reply->format != 32)
        return {};
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    return QList<quint32>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

QList<Window> windowsOf(qint64 pid)
{
    QList<Window> found;
    collect(root(), pid, 0, found);
    return found;
}

std::optional<Window> windowOfType(qint64 pid, const QByteArray &type)
{
    const QList<Window> windows = windowsOf(pid);
    const auto it = std::ranges::find_if(windows, [&](const auto &w) { return w.types.contains(atom(type)); });
    return it == windows.end() ? std::nullopt : std::optional(*it);
}

void close(quint32 window)
{
    const xcb_client_message_event_t event{
        .response_type = XCB_CLIENT_MESSAGE, .format = 32, .sequence = 0, .window = window,
        .type = atom("WM_PROTOCOLS"), .data = {.data32 = {atom("WM_DELETE_WINDOW"), XCB_CURRENT_TIME}}};
    xcb_send_event(connection(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(connection());
}

std::optional<QStringList> findWindows(const QString &title, qint64 pid, bool visibleOnly)
{
    QStringList args{QStringLiteral("search")};
    if (pid) // both conditions: xdotool matches either by default
        args << QStringLiteral("--all") << QStringLiteral("--pid") << QString::number(pid);
    if (visibleOnly)
        args << QStringLiteral("--onlyvisible");
    args << QStringLiteral("--name") << title;
    for (int attempt = 0; attempt < 10; ++attempt) {
        QProcess search;
        search.start(QStringLiteral("xdotool"), args);
        if (!search.waitForFinished(5000))
            return std::nullopt;
        // Exit status 1 with nothing on standard error: no such window.
        if (search.exitStatus() == QProcess::NormalExit && search.readAllStandardError().isEmpty())
            return QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
    return std::nullopt;
}

bool xdotool(const QStringList &arguments)
{
    return run(QStringLiteral("xdotool"), arguments).has_value();
}

QString clipboardText()
{
    return QString::fromUtf8(
        run(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"}).value_or(QByteArray()));
}

QStringList dragGesture(int steps)
{
    QStringList gesture{"mousemove", "120", "80", "mousedown", "1"};
    for (int i = 0; i < steps; ++i)
        gesture << "sleep" << "0.02" << "mousemove_relative" << "--" << "20" << "20";
    return gesture;
}

DragSource::DragSource(Toolkit toolkit, const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [this] {
        while (process.canReadLine())
            lines.append(QString::fromUtf8(process.readLine()).trimmed());
    });
    if (toolkit == Toolkit::qt)
        process.start(QStringLiteral(PELKIN_QT_DRAG_SOURCE), arguments);
    else
        process.start(QStringLiteral("/usr/bin/python3"), QStringList{PELKIN_GTK_DRAG_SOURCE} + arguments);
}

DragSource::~DragSource()
{
    process.kill();
    process.waitForFinished(5000);
}

bool DragSource::waitForLine(const QString &prefix, int timeoutMs)
{
    // Not longer than the program lives.
    return QTest::qWaitFor([&] { return line(prefix) || process.state() == QProcess::NotRunning; }, timeoutMs) &&
           line(prefix);
}

std::optional<QString> DragSource::line(const QString &prefix) const
{
    const auto it = std::ranges::find_if(lines, [&](const QString &l) { return l.startsWith(prefix); });
    return it == lines.end() ? std::nullopt : std::optional(*it);
}

bool DragSource::beginDrag(int steps)
{
    return waitForLine(QStringLiteral("ready")) && xdotool(dragGesture(steps)) &&
           waitForLine(QStringLiteral("drag-started"), 5000);
}

} // namespace X11Driver
