// pelkin-window-watch: what the drop-zone benchmark needs to know of another
// client's windows, on the current display.
//
//   pelkin-window-watch watch NAME TYPE  prints "ready", then "map <µs> <id>" and
//                                        "unmap <µs> <id>" (CLOCK_MONOTONIC) for
//                                        top-level windows titled NAME whose
//                                        _NET_WM_WINDOW_TYPE is _NET_WM_WINDOW_TYPE_TYPE
//   pelkin-window-watch close NAME TYPE  asks those windows to close (WM_DELETE_WINDOW),
//                                        as a window manager's close button would
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T> using XcbPtr = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t *connection = nullptr;

long long monotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

xcb_atom_t atom(const std::string &name)
{
    XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : XCB_NONE;
}

XcbPtr<xcb_get_property_reply_t> property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    return XcbPtr<xcb_get_property_reply_t>(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, name, type, 0, 256), nullptr));
}

bool matches(xcb_window_t window, const std::string &name, xcb_atom_t type)
{
    const auto title = property(window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
    if (!title || title->format != 8 ||
        std::string(static_cast<const char *>(xcb_get_property_value(title.get())),
                    size_t(xcb_get_property_value_length(title.get()))) != name)
        return false;
    const auto types = property(window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM);
    if (!types || types->format != 32)
        return false;
    const auto *list = static_cast<const xcb_atom_t *>(xcb_get_property_value(types.get()));
    const int n = xcb_get_property_value_length(types.get()) / 4;
    for (int i = 0; i < n; ++i) {
        if (list[i] == type)
            return true;
    }
    return false;
}

int watch(xcb_window_t root, const std::string &name, xcb_atom_t type)
{
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    XcbPtr<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    std::printf("ready\n");
    std::fflush(stdout);
    std::set<xcb_window_t> seen;
    while (XcbPtr<xcb_generic_event_t> event{xcb_wait_for_event(connection)}) {
        const long long now = monotonicMicroseconds();
        const uint8_t kind = event->response_type & 0x7f;
        if (kind == XCB_MAP_NOTIFY) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event.get());
            if (seen.count(map->window) || matches(map->window, name, type)) {
                seen.insert(map->window);
                std::printf("map %lld 0x%x\n", now, map->window);
            }
        } else if (kind == XCB_UNMAP_NOTIFY) {
            const auto *unmap = reinterpret_cast<xcb_unmap_notify_event_t *>(event.get());
            if (seen.count(unmap->window))
                std::printf("unmap %lld 0x%x\n", now, unmap->window);
        }
        std::fflush(stdout);
    }
    return 1; // the display went away
}

int closeWindows(xcb_window_t root, const std::string &name, xcb_atom_t type)
{
    XcbPtr<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree)
        return 1;
    const xcb_atom_t protocols = atom("WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
    int closed = 0;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        if (!matches(children[i], name, type))
            continue;
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = children[i];
        message.type = protocols;
        message.data.data32[0] = deleteWindow;
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection, 0, children[i], XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&message));
        ++closed;
    }
    xcb_flush(connection);
    std::printf("closed %d\n", closed);
    return closed > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 || (std::strcmp(argv[1], "watch") != 0 && std::strcmp(argv[1], "close") != 0)) {
        std::fputs("usage: pelkin-window-watch watch|close NAME TYPE\n", stderr);
        return 2;
    }
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fputs("pelkin-window-watch: cannot open the display\n", stderr);
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    const xcb_atom_t type = atom(std::string("_NET_WM_WINDOW_TYPE_") + argv[3]);
    const int status = std::strcmp(argv[1], "watch") == 0 ? watch(root, argv[2], type)
                                                          : closeWindows(root, argv[2], type);
    xcb_disconnect(connection);
    return status;
}
