#!/usr/bin/env bash
# Remakes the station's two sound files in src/resources/:
#   Busy.wav        the spoken busy message sent to a refused caller
#   CallWaiting.wav the call-waiting cue played when a caller is refused
# Both 16-bit PCM, mono, 22 050 Hz. Needs espeak-ng and sox.
set -euo pipefail
cd "$(dirname "$0")/../src/resources"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
espeak-ng -v en -s 150 -w "$tmp/busy.wav" \
  "The station you called is busy. Please try again later."
sox "$tmp/busy.wav" -r 22050 -c 1 -b 16 -e signed-integer Busy.wav norm -3
# Two short 440 Hz beeps with a pause between them.
sox -n -r 22050 -c 1 -b 16 -e signed-integer "$tmp/beep.wav" synth 0.25 sine 440 fade 0.01 0.25 0.02 vol 0.5
sox -n -r 22050 -c 1 -b 16 -e signed-integer "$tmp/gap.wav" trim 0 0.2
sox "$tmp/beep.wav" "$tmp/gap.wav" "$tmp/beep.wav" CallWaiting.wav
