#!/usr/bin/python3
# A GTK 3 window that starts one drag, for X11 tests; the same command line
# and output as pelkin-test-drag-source (qt-drag-source.cpp):
#
#   gtk-drag-source.py [--place X,Y,W,H] [--quit-at-drop]
#                      --files PATH... | --link URL | --text TEXT
#
# Drags start after 8 px. --quit-at-drop: exit once the drag is over (GTK ends
# a drag only once the target has finished with it). --files offers
# text/uri-list, --link the URL as text/uri-list and text, --text text only.
# "drag-finished" carries no action.
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(line):
    print(line, flush=True)


args = sys.argv[1:]
place, kind, values, quit_at_drop = [20, 20, 200, 120], None, [], False
while args:
    arg = args.pop(0)
    if arg == "--place" and args:
        place = [int(v) for v in args.pop(0).split(",")]
    elif arg == "--quit-at-drop":
        quit_at_drop = True
    elif arg in ("--files", "--link", "--text"):
        kind = arg[2:]
    else:
        values.append(arg)
if not kind or not values or len(place) != 4:
    sys.stderr.write("usage: gtk-drag-source.py [--place X,Y,W,H] [--quit-at-drop] "
                     "--files PATH... | --link URL | --text TEXT\n")
    sys.exit(2)

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


def on_drag_end(*_):
    say("drag-finished")
    if quit_at_drop:
        GLib.idle_add(Gtk.main_quit)


def on_map(*_):
    window.disconnect(mapped)
    say("ready")
    return False


box.connect("drag-begin", lambda *_: say("drag-started %d" % (time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000)))
box.connect("drag-end", on_drag_end)
box.connect("drag-data-get", on_data_get)
mapped = window.connect("map-event", on_map)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
