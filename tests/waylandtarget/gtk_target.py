#!/usr/bin/env python3
# A GTK 3 front application for the Wayland tests: one window with a text view, driven by the
# same line commands on standard input as the Qt test target (tests/x11target/main.cpp):
#   set <b64> | select <start> <end> | text | focus | activate | keys | clearkeys
#   pastedelay <ms> | pastes | watch <b64> | quit
import base64
import sys
import time

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def b64(text):
    return base64.b64encode(text.encode()).decode()


def unb64(data):
    return base64.b64decode(data).decode()


class Target:
    def __init__(self):
        self.window = Gtk.Window(title="Tarnwick GTK test target")
        self.window.set_default_size(420, 160)
        self.view = Gtk.TextView()
        self.buffer = self.view.get_buffer()
        self.window.add(self.view)
        self.keys = []
        self.pastes = 0
        self.watched = None
        self.view.connect("key-press-event", self.on_key)
        self.view.connect("paste-clipboard", self.on_paste)
        self.buffer.connect("changed", lambda *_: self.check_watch())
        self.window.connect("destroy", Gtk.main_quit)
        self.window.show_all()
        self.view.grab_focus()
        self.pending = b""
        GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, self.on_input)

    def reply(self, line):
        sys.stdout.write(line + "\n")
        sys.stdout.flush()

    def on_key(self, _view, event):
        name = Gdk.keyval_name(Gdk.keyval_to_upper(event.keyval)) or ""
        if name in ("Control_L", "Control_R", "Shift_L", "Shift_R", "Alt_L", "Alt_R", "Super_L", "Super_R"):
            return False
        parts = []
        if event.state & Gdk.ModifierType.CONTROL_MASK:
            parts.append("Ctrl")
        if event.state & Gdk.ModifierType.MOD1_MASK:
            parts.append("Alt")
        if event.state & Gdk.ModifierType.SHIFT_MASK:
            parts.append("Shift")
        self.keys.append("+".join(parts + [name]))
        return False

    def on_paste(self, _view):
        self.pastes += 1

    def text(self):
        return self.buffer.get_text(self.buffer.get_start_iter(), self.buffer.get_end_iter(), True)

    def check_watch(self):
        if self.watched is not None and self.text() == self.watched:
            self.watched = None
            self.reply("changed %d" % (time.monotonic_ns() // 1000))

    def on_input(self, _fd, condition):
        chunk = sys.stdin.buffer.raw.read(4096) if condition & GLib.IO_IN else b""
        if not chunk:
            Gtk.main_quit()
            return False
        self.pending += chunk
        while b"\n" in self.pending:
            line, self.pending = self.pending.split(b"\n", 1)
            self.handle(line.decode().split(" "))
        return True

    def handle(self, words):
        command = words[0]
        if command == "set":
            self.buffer.set_text(unb64(words[1]))
            self.buffer.select_range(self.buffer.get_start_iter(), self.buffer.get_end_iter())
            self.reply("ok")
        elif command == "select":
            start = self.buffer.get_iter_at_offset(int(words[1]))
            end = self.buffer.get_iter_at_offset(int(words[2]))
            self.buffer.select_range(start, end)
            self.reply("ok")
        elif command == "text":
            self.reply("text " + b64(self.text()))
        elif command == "focus":
            self.reply("focus 1" if self.window.is_active() and self.view.has_focus() else "focus 0")
        elif command == "activate":
            self.window.present()
            self.view.grab_focus()
            self.reply("ok")
        elif command == "keys":
            self.reply("keys " + ",".join(self.keys))
        elif command == "clearkeys":
            self.keys = []
            self.reply("ok")
        elif command == "pastedelay":
            self.reply("ok")
        elif command == "pastes":
            self.reply("pastes %d" % self.pastes)
        elif command == "watch":
            self.watched = unb64(words[1])
            self.check_watch()
        elif command == "quit":
            self.reply("ok")
            Gtk.main_quit()
        else:
            self.reply("error unknown command")


Target()
print("ready", flush=True)
Gtk.main()
