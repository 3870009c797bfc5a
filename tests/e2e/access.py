#!/usr/bin/python3
"""The station window as a screen reader finds and works it, over the
accessibility bus (AT-SPI, through pyatspi), for tests/e2e/access.sh.

It finds the application "chatterly" of the station's process and its window
"Chatterly", lists every control (push and toggle buttons, the combo box, the
pictures, the status panel, the level meter) with its role, name, description
and key, and fails when one lacks a name or a description, when two share a
name (a listener could not tell them apart), or when a button's key (its
mnemonic) is another's too or is not a letter of its name. Then it works the
window without keyboard or mouse: it types a station into the remote box
through the editable-text interface, moves the focus between the box and
Connect, presses About through the Action interface and closes the box that
opens; in a call that a plain caller on the station's host holds, it presses Talk and reads the microphone's
level rise while a tone plays into the microphone and fall in silence; and
it presses Exit, after which the process must end within 5 s.

Usage: access.py PID NAMESPACE PULSE_SERVER TONE_WAV
Exit: 0 passed, 1 failed. The accessibility bus is found as every AT-SPI
client finds it (the session bus, DBUS_SESSION_BUS_ADDRESS)."""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

CONTROL_ROLES = {"push button", "toggle button", "check box", "combo box", "image", "panel",
                 "progress bar"}
TYPED = "kitchen-pc"


class Failure(Exception):
    pass


def wait_for(what, seconds, probe):
    """probe()'s first true value within the deadline (errors of the bus while
    the station is busy count as not yet)."""
    end = time.monotonic() + seconds
    while True:
        try:
            value = probe()
        except GLib.Error:
            value = None
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("%s (after %d s)" % (what, seconds))
        time.sleep(0.1)


def children(acc):
    return [c for c in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if c is not None]


def descendants(acc):
    for child in children(acc):
        yield child
        yield from descendants(child)


def application(pid):
    for app in children(pyatspi.Registry.getDesktop(0)):
        try:
            if app.get_process_id() == pid and app.name == "chatterly":
                # Read what the station shows now, never a cached answer.
                app.setCacheMask(pyatspi.cache.NONE)
                return app
        except GLib.Error:
            continue
    return None


def windows(app, name=None):
    return [w for w in children(app) if name is None or w.name == name]


def station_window(app):
    """The station's window: "Chatterly", or "Chatterly Connected to ..." in a
    call."""
    return next((w for w in children(app) if w.name.startswith("Chatterly")), None)


def named(window, name, role=None):
    for acc in descendants(window):
        if acc.name == name and (role is None or acc.getRoleName() == role):
            return acc
    return None


def press(acc):
    """Its Press action, or Toggle for a button that stays down."""
    action = acc.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "Toggle"):
            action.doAction(i)
            return
    raise Failure("%s has no Press action" % acc.name)


def mnemonic(acc):
    """The Alt key a control's actions announce ("Alt+C"), or "" (a disabled
    control announces none)."""
    try:
        action = acc.queryAction()
    except NotImplementedError:
        return ""
    bindings = (action.getKeyBinding(i) for i in range(action.nActions))
    return next((b for b in bindings if b.startswith("Alt+")), "")


def focused(acc):
    return acc.getState().contains(pyatspi.STATE_FOCUSED)


def ended(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def check_controls(window):
    print("   %-13s %-18s %-6s %s" % ("role", "name", "key", "description"))
    faults, names, keys = [], {}, {}
    for acc in descendants(window):
        role = acc.getRoleName()
        if role not in CONTROL_ROLES:
            continue
        binding = mnemonic(acc)
        print("   %-13s %-18s %-6s %s"
              % (role, acc.name or "-", binding or "-", acc.description or "-"))
        if not acc.name or not acc.description:
            faults.append("%s %r has no name or no description" % (role, acc.name))
        if acc.name in names:
            faults.append("%s and %s are both named %r" % (names[acc.name], role, acc.name))
        names[acc.name] = role
        if binding:
            letter = binding.rsplit("+", 1)[-1].lower()
            if binding in keys:
                faults.append("%r and %r both take %s" % (keys[binding], acc.name, binding))
            if letter not in (acc.name or "").lower():
                faults.append("%r takes %s, not a letter of its name" % (acc.name, binding))
            keys[binding] = acc.name
    if not keys:
        faults.append("no control announces a key")
    if faults:
        raise Failure("; ".join(faults))


def type_remote(window):
    box = next((a for a in descendants(window) if a.getRoleName() == "combo box"), None)
    if box is None:
        raise Failure("the window has no combo box")
    field = next((c for c in children(box) if c.getRoleName() == "text"), None)
    if field is None:
        raise Failure("the remote box has no text field")
    field.queryEditableText().setTextContents(TYPED)
    wait_for("the remote box did not take the text", 10,
             lambda: field.queryText().getText(0, -1) == TYPED)
    print("   typed %r into the remote box through its editable text" % TYPED)
    return field


def move_focus(window, field):
    connect = named(window, "Connect", "push button")
    if not connect.queryComponent().grabFocus():
        raise Failure("Connect refused the focus")
    wait_for("Connect did not take the focus", 10,
             lambda: focused(connect) and not focused(field))
    # The box's text field takes the focus for the box (the box itself
    # offers no focus action).
    if not field.queryComponent().grabFocus():
        raise Failure("the remote box refused the focus")
    wait_for("the remote box did not take the focus back", 10,
             lambda: focused(field) and not focused(connect))
    print("   the focus went to Connect and back to the remote box")


def about(app, window):
    press(named(window, "About", "push button"))

    def box():
        for w in windows(app):
            if not w.name.startswith("Chatterly"):
                texts = " ".join(a.name for a in descendants(w) if a.getRoleName() == "label")
                if "push-to-talk" in texts:
                    return w, texts
        return None

    shown, texts = wait_for("the About box did not appear", 10, box)
    print("   the About box reads: %s" % " ".join(texts.split()))
    ok = next((a for a in descendants(shown) if a.getRoleName() == "push button"), None)
    if ok is None or not ok.name:
        raise Failure("the About box has no named button")
    name = ok.name
    press(ok)
    wait_for("the About box did not close", 10, lambda: box() is None)
    print("   the About box closed through its %r button" % name)


def meter(window, namespace, server, tone):
    """A call from a caller in the station's namespace that reads what it is
    sent; Talk down: the meter's value (the RMS in dB) while the tone plays
    into the microphone, then in silence; Talk up sends the message. The
    caller is returned; it ends when the station closes the call."""
    caller = subprocess.Popen(["ip", "netns", "exec", namespace, "bash", "-c",
                               "exec 3<>/dev/tcp/127.0.0.1/2005 && cat <&3 >/dev/null"])
    talk = named(window, "Talk")
    wait_for("Talk is not enabled in the call", 20,
             lambda: talk.getState().contains(pyatspi.STATE_ENABLED))
    press(talk)
    level = named(window, "Microphone level", "progress bar").queryValue()
    player = subprocess.Popen(["paplay", "--server=" + server, "-d", "spk", tone])
    try:
        loud = wait_for("the meter did not rise while the tone played", 20,
                        lambda: level.currentValue if level.currentValue > -20 else None)
    finally:
        player.wait()
    quiet = wait_for("the meter did not fall in silence", 20,
                     lambda: level.currentValue if level.currentValue < -50 else None)
    print("   the microphone's level read %d dB with the tone, %d dB after it" % (loud, quiet))
    press(talk)
    return caller


def main():
    pid = int(sys.argv[1])
    try:
        app = wait_for("no application \"chatterly\" of process %d on the bus" % pid, 30,
                       lambda: application(pid))
        window = wait_for("the application shows no window \"Chatterly\"", 20,
                          lambda: station_window(app))
        print("== the controls of the window %r (%s)" % (window.name, window.getRoleName()))
        check_controls(window)
        print("== a screen reader's user works the window")
        field = type_remote(window)
        move_focus(window, field)
        about(app, window)
        caller = meter(window, sys.argv[2], sys.argv[3], sys.argv[4])
        start = time.monotonic()
        press(named(window, "Exit", "push button"))
        wait_for("the station did not end after Exit", 5, lambda: ended(pid))
        print("   Exit through its action: the process ended after %.2f s"
              % (time.monotonic() - start))
        caller.wait(timeout=10)
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
