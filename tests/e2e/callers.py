#!/usr/bin/env python3
"""Plain callers of a station (port 2005), for tests/e2e/hostile-callers.sh.

A frame is Reserved (u32 LE, 0), Length (u32 LE), then Length bytes.

  callers.py call HOST [SOURCE]  one call (from the address SOURCE), driven by commands on stdin, one a
                                 line; after each it prints "done N ..." (N
                                 counts the commands) and flushes:
      frame PATH [COUNT]         COUNT frames (default 1) holding PATH's bytes
      header LENGTH              a header announcing LENGTH bytes, nothing more
      bytes COUNT [INTERVAL [SIZE]]
                                 COUNT pieces of SIZE bytes (default 1), INTERVAL
                                 seconds apart (default 0)
      close                      an orderly close; the caller ends
      reset                      a close with SO_LINGER 0 (the far end sees a
                                 reset); the caller ends
  callers.py answer HOST [RCVBUF]
                                 a refused caller that reads to the end; prints
                                 "frame LENGTH", "none" (closed without a byte),
                                 "partial COUNT", "reset COUNT" or "timeout COUNT"
  callers.py flood HOST COUNT CONTROL SECONDS
                                 COUNT connections at once (see flood())
  callers.py deaf HOST COUNT CONTROL
                                 COUNT refused callers that never read (see deaf())
  callers.py calls HOST COUNT SECONDS
                                 COUNT short calls in a row (see calls())
  callers.py bad HOST COUNT RATE COUNT calls at RATE a second that each send a
                                 header and 100 bytes and reset (see bad())
  callers.py listen HOST CONTROL a station called: takes one call on HOST, port
                                 2005 (see listen())
"""
import json
import os
import select
import socket
import struct
import sys
import time

PORT = 2005


def connect(host, rcvbuf=None, timeout=20, source=None):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if source:
        s.bind((source, 0))
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.settimeout(timeout)
    s.connect((host, PORT))
    s.settimeout(None)
    return s


def header(length):
    return struct.pack("<II", 0, length)


def wait_file(path, seconds):
    end = time.monotonic() + seconds
    while not os.path.exists(path):
        if time.monotonic() > end:
            return False
        time.sleep(0.05)
    return True


def read_answer(s, seconds):
    """What a refused caller got: ("frame", length) for one whole frame then
    the close, ("none", 0), ("partial", n), ("reset", n) or ("timeout", n)."""
    got = bytearray()
    s.settimeout(seconds)
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
    except socket.timeout:
        return "timeout", len(got)
    except ConnectionResetError:
        return "reset", len(got)
    if not got:
        return "none", 0
    if len(got) >= 8:
        length = struct.unpack("<I", got[4:8])[0]
        if len(got) == 8 + length:
            return "frame", length
    return "partial", len(got)


def call(host, source=None):
    s = connect(host, source=source)
    n = 0
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        n += 1
        info = ""
        try:
            if words[0] == "frame":
                data = open(words[1], "rb").read()
                count = int(words[2]) if len(words) > 2 else 1
                frame = header(len(data)) + data
                for _ in range(count):
                    s.sendall(frame)
            elif words[0] == "header":
                s.sendall(header(int(words[1])))
            elif words[0] == "bytes":
                count = int(words[1])
                interval = float(words[2]) if len(words) > 2 else 0.0
                piece = b"\x55" * (int(words[3]) if len(words) > 3 else 1)
                if interval == 0:
                    s.sendall(piece * count)
                else:
                    for _ in range(count):
                        s.sendall(piece)
                        time.sleep(interval)
            elif words[0] == "close":
                s.close()
            elif words[0] == "reset":
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                s.close()
            else:
                info = "unknown command"
        except OSError as e:
            info = f"error {e.__class__.__name__}"
        print(f"done {n} {words[0]} {info}".rstrip(), flush=True)
        if words[0] in ("close", "reset"):
            break


def answer(host, rcvbuf=None):
    try:
        s = connect(host, rcvbuf)
    except OSError as e:
        print(f"noconnect {e.__class__.__name__}", flush=True)
        return
    kind, count = read_answer(s, 60)
    s.close()
    print(f"{kind} {count}", flush=True)


def flood(host, count, control, settle):
    """Opens one connection (the incoming call), writes control/first, waits
    for control/go, then opens count - 1 more at once without blocking and
    reads each to its end or for at most settle seconds (then resets it). Writes control/flood.json with
    how each ended, sends control/frame (a file) as one frame on the first
    connection, and holds it until control/release appears."""
    first = connect(host)
    open(os.path.join(control, "first"), "w").close()
    if not wait_file(os.path.join(control, "go"), 60):
        return
    started = time.monotonic()
    pending = {}
    for _ in range(count - 1):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.connect((host, PORT))
        except BlockingIOError:
            pass
        pending[s.fileno()] = [s, 0]
    opened = time.monotonic() - started
    ends = {"frame": 0, "none": 0, "partial": 0, "reset": 0, "unsettled": 0, "refused": 0}
    frame_lengths = set()
    poller = select.poll()
    for fd in pending:
        poller.register(fd, select.POLLIN | select.POLLERR | select.POLLHUP)
    buffers = {fd: bytearray() for fd in pending}
    deadline = started + settle
    while pending and time.monotonic() < deadline:
        for fd, _ in poller.poll(200):
            s = pending[fd][0]
            try:
                chunk = s.recv(65536)
            except BlockingIOError:
                continue
            except ConnectionRefusedError:
                chunk, kind = None, "refused"
            except ConnectionResetError:
                chunk, kind = None, "reset"
            except OSError:
                chunk, kind = None, "reset"
            if chunk:
                buffers[fd] += chunk
                continue
            if chunk is not None:  # the end
                got = buffers[fd]
                kind = "none" if not got else "partial"
                if len(got) >= 8 and len(got) == 8 + struct.unpack("<I", got[4:8])[0]:
                    kind = "frame"
                    frame_lengths.add(len(got) - 8)
            ends[kind] += 1
            poller.unregister(fd)
            s.close()
            del pending[fd]
    # Those still open got nothing: a reset ends them, also a handshake the
    # far end has yet to finish (the listen queue was full), so that no late
    # caller reaches the station after this.
    ends["unsettled"] = len(pending)
    for s, _ in pending.values():
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()
    result = {"opened_s": round(opened, 3), "settled_s": round(time.monotonic() - started, 1),
              "ends": ends, "frame_lengths": sorted(frame_lengths)}
    with open(os.path.join(control, "flood.json"), "w") as f:
        json.dump(result, f)
    data = open(os.path.join(control, "frame"), "rb").read()
    wait_file(os.path.join(control, "send"), 60)
    try:
        first.sendall(header(len(data)) + data)
        sent = True
    except OSError:
        sent = False
    with open(os.path.join(control, "sent"), "w") as f:
        f.write("yes" if sent else "no")
    wait_file(os.path.join(control, "release"), 120)
    first.close()


def deaf(host, count, control):
    """Opens count refused callers with a tiny receive buffer that never read,
    writes control/deaf when they are open, holds them until control/release
    appears, then closes them."""
    held = []
    for _ in range(count):
        held.append(connect(host, rcvbuf=1024))
    open(os.path.join(control, "deaf"), "w").close()
    wait_file(os.path.join(control, "release"), 120)
    for s in held:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()


def calls(host, count, seconds):
    """count calls in a row, each: connect, shut the sending half, wait for the
    station to close (a station that takes the call closes it when the caller
    has gone), close. Gives up after seconds in all. Prints one JSON line."""
    started = time.monotonic()
    done = answered = failed = 0
    slowest = 0.0
    while done < count and time.monotonic() - started < seconds:
        t = time.monotonic()
        try:
            s = connect(host, timeout=10)
            s.shutdown(socket.SHUT_WR)
            kind, _ = read_answer(s, 10)
            s.close()
            if kind == "frame":
                answered += 1  # taken for a second caller: the busy frame
            elif kind != "none":
                failed += 1
        except OSError:
            failed += 1
        done += 1
        slowest = max(slowest, time.monotonic() - t)
    print(json.dumps({"done": done, "busy_frames": answered, "failed": failed,
                      "seconds": round(time.monotonic() - started, 1),
                      "slowest_s": round(slowest, 3)}), flush=True)


def bad(host, count, rate):
    """count calls, rate a second: each connects, sends a header announcing
    1000 bytes and 100 of them, and resets. Prints one JSON line."""
    started = time.monotonic()
    done = failed = 0
    for i in range(count):
        pause = started + i / rate - time.monotonic()
        if pause > 0:
            time.sleep(pause)
        try:
            s = connect(host, timeout=10)
            s.sendall(header(1000) + b"\x55" * 100)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            s.close()
            done += 1
        except OSError:
            failed += 1
    print(json.dumps({"done": done, "failed": failed,
                      "seconds": round(time.monotonic() - started, 1)}), flush=True)


def listen(host, control):
    """Listens on host, port 2005, takes one call, writes control/accepted,
    then appends each whole frame's length to control/frames until the
    caller closes."""
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((host, PORT))
    server.listen(1)
    open(os.path.join(control, "listening"), "w").close()
    s, _ = server.accept()
    open(os.path.join(control, "accepted"), "w").close()
    got = bytearray()
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        got += chunk
        while len(got) >= 8 and len(got) >= 8 + struct.unpack("<I", got[4:8])[0]:
            length = struct.unpack("<I", got[4:8])[0]
            with open(os.path.join(control, "frames"), "a") as f:
                f.write("%d\n" % length)
            del got[:8 + length]
    s.close()
    server.close()


def main():
    what, host = sys.argv[1], sys.argv[2]
    if what == "call":
        call(host, sys.argv[3] if len(sys.argv) > 3 else None)
    elif what == "answer":
        answer(host, int(sys.argv[3]) if len(sys.argv) > 3 else None)
    elif what == "flood":
        flood(host, int(sys.argv[3]), sys.argv[4], float(sys.argv[5]))
    elif what == "deaf":
        deaf(host, int(sys.argv[3]), sys.argv[4])
    elif what == "calls":
        calls(host, int(sys.argv[3]), float(sys.argv[4]))
    elif what == "bad":
        bad(host, int(sys.argv[3]), float(sys.argv[4]))
    elif what == "listen":
        listen(host, sys.argv[3])
    else:
        sys.exit(f"unknown: {what}")


if __name__ == "__main__":
    main()
