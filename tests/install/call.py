#!/usr/bin/env python3
"""Two plain callers of a station on 127.0.0.1:2005, for the install tests.

  call.py BUSY_WAV GO_FILE

The first caller connects and holds the call; once GO_FILE exists (the test
has seen the station take the call), a second caller connects and must
receive the busy frame, the 8-byte header (u32 LE 0, u32 LE length) and then
exactly the bytes of BUSY_WAV, followed by the close. Then the first caller
hangs up. Prints what happened; exit 0 when the second caller got the frame.
"""
import os
import socket
import struct
import sys
import time

PORT = 2005


def connect(timeout=20):
    s = socket.create_connection(("127.0.0.1", PORT), timeout=timeout)
    return s


def read_to_close(s, seconds):
    s.settimeout(1)
    end = time.monotonic() + seconds
    got = bytearray()
    while time.monotonic() < end:
        try:
            piece = s.recv(65536)
        except socket.timeout:
            continue
        if not piece:
            return bytes(got), True
        got += piece
    return bytes(got), False


def main():
    busy_path, go_file = sys.argv[1], sys.argv[2]
    busy = open(busy_path, "rb").read()
    first = connect()
    print("first caller: connected", flush=True)
    end = time.monotonic() + 60
    while not os.path.exists(go_file):
        if time.monotonic() > end:
            print("first caller: the test never went on")
            return 1
        time.sleep(0.05)
    second = connect()
    got, closed = read_to_close(second, 60)
    second.close()
    first.close()
    want = struct.pack("<II", 0, len(busy)) + busy
    if got == want and closed:
        print(f"second caller: the busy frame ({len(busy)} bytes of Busy.wav), then the close")
        return 0
    head = struct.unpack("<II", got[:8]) if len(got) >= 8 else None
    print(f"second caller: {len(got)} bytes (header {head}, closed: {closed}); "
          f"wanted {len(want)} bytes, header (0, {len(busy)}) and Busy.wav")
    return 1


if __name__ == "__main__":
    sys.exit(main())
