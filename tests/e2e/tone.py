#!/usr/bin/env python3
"""What a recording of a loudspeaker holds: raw 16-bit little-endian mono
samples at 22 050 Hz. Prints the seconds of loud sound (|s| > 1000) and the
pitch over them in Hz (zero crossings / 2 per loud second)."""
import array
import sys

RATE = 22050

samples = array.array("h")
with open(sys.argv[1], "rb") as f:
    data = f.read()
samples.frombytes(data[: len(data) // 2 * 2])
if sys.byteorder != "little":
    samples.byteswap()
loud = crossings = 0
for prev, cur in zip(samples, samples[1:]):
    if abs(cur) > 1000 or abs(prev) > 1000:
        loud += 1
        if (prev < 0) != (cur < 0):
            crossings += 1
seconds = loud / RATE
pitch = crossings / 2 / seconds if loud else 0.0
print(f"{seconds:.2f} {pitch:.0f}")
