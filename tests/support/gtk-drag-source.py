#!/usr/bin/python3
# A GTK 3 window that starts one drag, for X11 tests; the same place, command line
# and output as pelkin-test-drag-source (qt-drag-source.cpp), except: drags start
# after 8 px, --quit-at-drop exits only once the target has finished with the drag,
# --link offers text too, and "drag-finished" carries no action.
import argparse
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(line):
    print(line, flush=True)


ap = argparse.ArgumentParser(usage="gtk-drag-source.py [--quit-at-drop] "
                             "--files PATH... | --link URL | --text TEXT")
ap.add_argument("--quit-at-drop", action="store_true")
offer = ap.add_mutually_exclusive_group(required=True)
for option in ("--files", "--link", "--text"):
    offer.add_argument(option, nargs="+" if option == "--files" else 1)
args = ap.parse_args()
kind = next(k for k in ("files", "link", "text") if getattr(args, k))
values, quit_at_drop = getattr(args, kind), args.quit_at_drop

window = Gtk.Window(title="pelkin-gtk-drag-source")
window.set_decorated(False)
window.set_keep_above(True)
window.move(20, 20)
window.set_default_size(200, 120)
box = Gtk.EventBox()
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


box.connect("drag-begin", lambda *_: say("drag-started %d" % (time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000)))
box.connect("drag-end", on_drag_end)
box.connect("drag-data-get", on_data_get)
window.connect("map-event", lambda *_: say("ready"))  # mapped once: never unmapped
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
