#!/usr/bin/python3
"""A GTK 3 drag source, as a GTK application offers files or text.

  gtk_drag_source.py uris|text

Shows a small window titled "kv23 gtk source" whose whole area starts a drag
(copy or move) of three file URIs or of a text. Prints one line per event:
  ready                    the window is on the screen
  begin                    the drag started
  data-get TARGET          the drop target asked for the data
  failed RESULT            GTK gave the drag up (no-target, timeout-expired ...)
  delete                   GTK was told to delete the data (a move)
  end DEST ACTION          the drag is over: the destination window GTK found
                           (0x0 for none) and the action it settled on
Exits after the end, or after 20 seconds.
"""
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402

URIS = ["file:///tmp/kv23-one.wav", "file:///tmp/kv23-two.wav", "file:///tmp/kv23-three.wav"]
TEXT = "-12.5 dB from GTK"


def say(line):
    print(line, flush=True)


def main():
    kind = sys.argv[1] if len(sys.argv) > 1 else "uris"
    window = Gtk.Window(title="kv23 gtk source")
    window.set_default_size(140, 100)
    area = Gtk.EventBox()
    area.add(Gtk.Label(label="drag me"))
    window.add(area)
    area.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [],
                         Gdk.DragAction.COPY | Gdk.DragAction.MOVE)
    if kind == "uris":
        area.drag_source_add_uri_targets()
    else:
        area.drag_source_add_text_targets()

    def data_get(_widget, _context, selection, _info, _time):
        if kind == "uris":
            selection.set_uris(URIS)
        else:
            selection.set_text(TEXT, -1)
        say("data-get " + selection.get_target().name())

    def failed(_widget, _context, result):
        say("failed " + result.value_nick)
        return False

    def end(_widget, context):
        dest = context.get_dest_window()
        xid = dest.get_xid() if isinstance(dest, GdkX11.X11Window) else 0
        say("end 0x%x %s" % (xid, context.get_selected_action().first_value_nick
                                 if context.get_selected_action() else "none"))
        GLib.timeout_add(200, Gtk.main_quit)

    area.connect("drag-begin", lambda *_: say("begin"))
    area.connect("drag-data-get", data_get)
    area.connect("drag-failed", failed)
    area.connect("drag-data-delete", lambda *_: say("delete"))
    area.connect("drag-end", end)
    window.connect("map-event", lambda *_: say("ready"))
    window.connect("destroy", Gtk.main_quit)
    GLib.timeout_add(20000, Gtk.main_quit)
    window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
