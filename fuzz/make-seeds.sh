#!/usr/bin/env bash
# Makes the fuzz targets' seed inputs under OUT/<target>/ (see README.md for
# the input layouts): WAV images made with sox, voice message frames around
# some of them, memory files, and memory dialog steps. Needs sox.
set -euo pipefail
out=$1
src=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$out"
mkdir -p "$out"/{fuzz_wav_decoder,fuzz_voice_frame,fuzz_memory_file,fuzz_memory_entry}

# Bytes from hex pairs ("ff 0f 00").
hex() { printf "$(printf '\\x%s' "$@")"; }
# Little-endian u32.
le32() { hex $(printf '%02x %02x %02x %02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
  $(($1 >> 16 & 255)) $(($1 >> 24 & 255))); }
# A frame around a file's bytes.
frame() { le32 0; le32 "$(stat -c %s "$1")"; cat "$1"; }

# Playback: 50 ms of a 440 Hz tone in each encoding a station may receive.
wav=$out/fuzz_wav_decoder
synth() { sox -n -r 8000 -c "$2" $3 "$wav/$1.wav" synth 0.05 sine 440; }
synth pcm8 1 "-e unsigned-integer -b 8"
synth pcm16-stereo 2 "-e signed-integer -b 16"
synth ima-adpcm 1 "-e ima-adpcm"
synth ms-adpcm 1 "-e ms-adpcm"
synth u-law 1 "-e u-law"
synth gsm 1 "-e gsm-full-rate"
synth float32 1 "-e floating-point -b 32"
synth float64 1 "-e floating-point -b 64"

# Frames: buffer code (u16), receive codes (a count, then the codes), stream.
fr=$out/fuzz_voice_frame
printf '0123456789' >"$fr/ten"
: >"$fr/empty"
{ hex ff 0f 00; frame "$fr/ten"; frame "$fr/empty"; } >"$fr/two-frames-whole"
{ hex 00 00 01 01; frame "$fr/ten"; } >"$fr/one-byte-buffer-and-receives"
{ hex 06 00 03 03 00 c8; frame "$wav/pcm8.wav"; le32 0; hex 10; } >"$fr/wav-then-cut-header"
{ hex 0c 00 02 05 ff; frame "$wav/u-law.wav"; le32 0; le32 3; hex 01 02; } >"$fr/wav-then-cut-data"
{ hex ff 0f 00; le32 0; le32 $((0x40000001)); } >"$fr/length-above-bound"
rm "$fr/ten" "$fr/empty"

# Memory files: the tests' two stations, an empty memory, and the long
# prefixes, a long count and wide strings.
mem=$out/fuzz_memory_file
cp "$src/tests/data/memory/two-stations.mem" "$mem/"
hex 00 00 00 00 00 00 >"$mem/empty.mem"
{
  hex 02 00 ff 08 00; printf 10.0.0.5
  hex ff fe ff ff 08 00; printf '1\0000\000.\0000\000.\0000\000.\0002\000'
  hex 01 00 ff ff ff 08 00 00 00; printf 10.0.0.5
  hex ff fe ff 04 64 00 eb 00 73 00 6b 00
  hex ff ff 01 00 00 00 ff fe ff 04 64 00 eb 00 73 00 6b 00 08; printf 10.0.0.5
} >"$mem/wide-and-long.mem"

# Memory dialog steps (FuzzedDataProvider): texts from the front, each ended
# by a backslash and a letter; step numbers and indexes from the back, last
# byte first. Insert, Add, find, Edit of entry 0 keeping its fields.
ent=$out/fuzz_memory_entry
{ printf '%s' '10.0.0.5 == desk\n10.0.0.2\nhall\n10.0.0.\n'; hex 00 00 02 03 01 00; } \
  >"$ent/insert-add-find-edit"
{ printf '%s' 'a=b == c\n10.0.0.3  \t\n== \n'; hex 00 00 00; } >"$ent/three-inserts"
