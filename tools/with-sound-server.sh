#!/usr/bin/env bash
# Runs a command with a private PulseAudio server: a null sink "spk" (the
# loudspeaker) whose monitor is the default source (the microphone). Exports
# PULSE_SERVER for the command, and stops the server afterwards, also on
# failure. Usage: tools/with-sound-server.sh COMMAND [ARGS...]
set -euo pipefail
dir=$(mktemp -d /tmp/chatterly-pa.XXXXXX)
mkdir -p "$dir/run" "$dir/home"
chmod 700 "$dir/run"
pa_pid=""
keep_pid=""
cleanup() {
  [ -n "$keep_pid" ] && kill "$keep_pid" 2>/dev/null || true
  if [ -n "$pa_pid" ]; then
    kill "$pa_pid" 2>/dev/null || true
    wait "$pa_pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
  --use-pid-file=no --disallow-exit --log-target="file:$dir/pa.log" \
  --load="module-null-sink sink_name=spk rate=22050 channels=1" \
  --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" &
pa_pid=$!
export PULSE_SERVER="unix:$dir/native"
for _ in $(seq 1 200); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.05
done
pactl set-default-sink spk >/dev/null 2>&1 || true
pactl set-default-source spk.monitor >/dev/null 2>&1 || true
# A low-latency stream keeps the null sink from rendering in 2-second blocks.
parec -d spk.monitor --latency-msec=20 >/dev/null 2>&1 &
keep_pid=$!
sleep 2.5
set +e
"$@"
status=$?
exit $status
