#!/usr/bin/python3
"""The box keeper of tests/e2e/hostile-callers.sh: dismisses the station's
message boxes as they appear and notes their texts.

The station runs with Qt's accessibility bridge on, so each of its windows is
an object on the accessibility bus (AT-SPI over D-Bus): a window that is not
the station window (whose caption starts with "Chatterly"; a message box's is
"chatterly") is a box. Its labels are its text, and its OK button is pressed
through the accessibility Action interface, so no keyboard focus is taken
from the script. A visible X window of the station that the bus does not show
within 3 s is dismissed with Return and read by OCR instead.

Usage: keeper.py STATION_FILE LOG LOCK [AWAY]
  STATION_FILE holds "PID WINDOW" of the current station (read each pass);
  LOG gets one line a box: "TIME<TAB>PID<TAB>TEXT" (TIME: when first seen);
  LOCK is flock()ed around key presses; while the file AWAY exists nobody is
  at the screen: boxes are noted but left up. The accessibility bus address
  is asked of the session bus (DBUS_SESSION_BUS_ADDRESS)."""
import fcntl
import os
import subprocess
import sys
import time

from gi.repository import Gio, GLib

ROOT = "/org/a11y/atspi/accessible/root"
ACCESSIBLE = "org.a11y.atspi.Accessible"
TIMEOUT_MS = 1500


class Bus:
    def __init__(self):
        session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                    None, None, Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
        self.bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)

    def call(self, name, path, iface, method, args=None):
        return self.bus.call_sync(name, path, iface, method, args, None, Gio.DBusCallFlags.NONE,
                                  TIMEOUT_MS, None).unpack()

    def prop(self, name, path, what):
        return self.call(name, path, "org.freedesktop.DBus.Properties", "Get",
                         GLib.Variant("(ss)", (ACCESSIBLE, what)))[0]

    def name_of_pid(self, pid):
        names = self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "ListNames")[0]
        for n in names:
            if not n.startswith(":"):
                continue
            try:
                p = self.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                              GLib.Variant("(s)", (n,)))[0]
            except GLib.Error:
                continue
            if p == pid:
                return n
        return None

    def children(self, name, path):
        return [p for (_, p) in self.call(name, path, ACCESSIBLE, "GetChildren")[0]]

    def role(self, name, path):
        return self.call(name, path, ACCESSIBLE, "GetRoleName")[0]

    def boxes(self, name):
        """(path, text, ok_path) of each window that is not the station window."""
        found = []
        for window in self.children(name, ROOT):
            if self.prop(name, window, "Name").startswith("Chatterly"):
                continue
            texts, ok = [], None
            stack = [window]
            while stack:
                path = stack.pop()
                for child in self.children(name, path):
                    role = self.role(name, child)
                    if role == "label":
                        text = self.prop(name, child, "Name")
                        if text:
                            texts.append(" ".join(text.split()))
                    elif role == "push button":
                        ok = child
                    stack.append(child)
            found.append((window, " ".join(texts), ok))
        return found

    def press(self, name, button):
        self.call(name, button, "org.a11y.atspi.Action", "DoAction", GLib.Variant("(i)", (0,)))


def visible_windows(pid, main):
    out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid),
                          "--name", "^chatterly$"], capture_output=True, text=True).stdout.split()
    return [w for w in out if w != main]


def locked(lock, command):
    with open(lock, "a") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        return subprocess.run(command, capture_output=True, text=True, timeout=30)


def ocr(lock, window):
    shot = "/tmp/keeper-%d.png" % time.monotonic_ns()
    try:
        subprocess.run(["import", "-window", window, shot], capture_output=True, timeout=10)
        subprocess.run(["convert", shot, "-resize", "300%", "-colorspace", "Gray", "-level",
                        "50%,85%", shot], capture_output=True, timeout=10)
        text = subprocess.run(["tesseract", shot, "-", "--psm", "6"], capture_output=True,
                              text=True, timeout=20).stdout
    except (OSError, subprocess.SubprocessError):
        text = ""
    finally:
        subprocess.run(["rm", "-f", shot])
    return " ".join(text.split())


def main():
    station_file, log, lock = sys.argv[1:4]
    away = sys.argv[4] if len(sys.argv) > 4 else None
    bus = None
    pid, main_window, name = None, None, None
    seen = {}  # box path -> time it was noted
    x_first = {}  # X window -> when first seen
    x_noted = set()  # X windows read by OCR
    while True:
        time.sleep(0.1)
        try:
            p, w = open(station_file).read().split()[:2]
            p = int(p)
        except (OSError, ValueError):
            continue
        if p != pid:
            pid, main_window, name, seen, x_first, x_noted = p, w, None, {}, {}, set()
        try:
            if bus is None:
                bus = Bus()
            if name is None:
                name = bus.name_of_pid(pid)
            boxes = bus.boxes(name) if name else []
            walked = name is not None
        except GLib.Error:
            boxes, walked = [], False
        if walked:
            # A box noted once is noted again only after it has gone.
            paths = {b[0] for b in boxes}
            for path in list(seen):
                if path not in paths:
                    del seen[path]
        nobody = away is not None and os.path.exists(away)
        for path, text, ok in boxes:
            if path not in seen:
                seen[path] = time.time()
                with open(log, "a") as f:
                    f.write("%.3f\t%d\t%s\n" % (seen[path], pid, text or "(no text)"))
            if ok and not nobody:
                try:
                    bus.press(name, ok)
                except GLib.Error:
                    pass
        # Boxes the bus does not show.
        now = time.time()
        windows = visible_windows(pid, main_window)
        for w in list(x_first):
            if w not in windows:
                del x_first[w]
                x_noted.discard(w)
        for w in windows:
            first = x_first.setdefault(w, now)
            if now - first < 3 or boxes or nobody:
                continue
            if w not in x_noted:
                x_noted.add(w)
                text = ocr(lock, w)
                with open(log, "a") as f:
                    f.write("%.3f\t%d\t(ocr) %s\n" % (first, pid, text))
            locked(lock, ["xdotool", "windowfocus", "--sync", w, "key", "--clearmodifiers",
                          "Return"])
            x_first[w] = time.time()


if __name__ == "__main__":
    main()
