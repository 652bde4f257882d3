#!/usr/bin/python3
# A GTK 3 window that starts one drag, for X11 tests.
#
#   gtk-drag-source.py [--place X,Y,W,H] [--quit-at-drop]
#                      --files PATH... | --link URL | --text TEXT
#
# The undecorated window is placed at X,Y with size WxH (default
# 20,20,200,120); the same command line as pelkin-test-drag-source. Press
# the left button inside it and move the pointer by more than 8 px to start the
# drag, e.g. with xdotool:
#   xdotool mousemove 120 80 mousedown 1 sleep 0.05 mousemove_relative -- 12 9 sleep 0.02 \
#           mousemove_relative -- 12 9 sleep 0.02 mousemove_relative -- 12 9 ...
# (relative moves a few ms apart, like a hand: they make the raw input events
# that absolute warps do not, and let a drag monitor ask for the types in time)
# then move to the target and `xdotool mouseup 1` to drop (or key Escape to cancel).
# --quit-at-drop: exit as soon as the drag is over (GTK ends a drag only
# once the target has finished with it).
# Offered data: --files: text/uri-list with file:// URIs; --link: the URL as
# text/uri-list and as text; --text: the text targets only.
# Standard output, one line each, flushed: "ready" once the window is mapped,
# "drag-started <CLOCK_MONOTONIC microseconds>" when the drag begins,
# "drag-finished" when it is over.
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def main(argv):
    place = (20, 20, 200, 120)
    kind, values, quit_at_drop = None, [], False
    args = list(argv)
    while args:
        arg = args.pop(0)
        if arg == "--place" and args:
            place = tuple(int(v) for v in args.pop(0).split(","))
            if len(place) != 4:
                kind = None
                break
        elif arg == "--quit-at-drop":
            quit_at_drop = True
        elif arg in ("--files", "--link", "--text"):
            kind = arg[2:]
        else:
            values.append(arg)
    if not kind or not values:
        sys.stderr.write("usage: gtk-drag-source.py [--place X,Y,W,H] [--quit-at-drop] "
                         "--files PATH... | --link URL | --text TEXT\n")
        return 2

    window = Gtk.Window(title="pelkin-gtk-drag-source")
    window.set_decorated(False)
    window.set_keep_above(True)
    window.move(place[0], place[1])
    window.set_default_size(place[2], place[3])
    box = Gtk.EventBox()
    box.add(Gtk.Label(label="drag: " + kind))
    window.add(box)

    targets = Gtk.TargetList.new([])
    if kind in ("files", "link"):
        targets.add_uri_targets(0)
    if kind in ("link", "text"):
        targets.add_text_targets(1)
    box.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [], Gdk.DragAction.COPY)
    box.drag_source_set_target_list(targets)

    def on_data_get(_widget, _context, selection, info, _time):
        if kind == "files":
            selection.set_uris([GLib.filename_to_uri(path, None) for path in values])
        elif info == 0:
            selection.set_uris([values[0]])
        else:
            selection.set_text(values[0], -1)

    box.connect("drag-begin", lambda *_: say(
        "drag-started %d" % (time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000)))
    def on_drag_end(*_):
        say("drag-finished")
        if quit_at_drop:
            GLib.idle_add(Gtk.main_quit)

    box.connect("drag-end", on_drag_end)
    box.connect("drag-data-get", on_data_get)

    shown = []

    def on_map(*_):
        if not shown:
            shown.append(True)
            say("ready")
        return False

    window.connect("map-event", on_map)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
