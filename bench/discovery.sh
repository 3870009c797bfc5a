#!/usr/bin/env bash
# Discovery: how soon another host finds a station that starts. Two hosts
# (network namespaces on a bridge), each a machine of its own with its own
# host name, system bus and avahi-daemon (tests/e2e/lib.sh); avahi-browse
# runs on host two throughout. Five times the station starts on host one and
# is ended with SIGTERM once host two has resolved its service; each time
# avahi-publish, started the same way, announces the same service, which is
# Avahi's work alone (probing, announcing, resolving). dbus-monitor on host
# one's system bus sees each publisher commit its service to the daemon: the
# time up to that commit is the publisher's own, the rest is Avahi's.
# Then bench_startup (beside PROGRAM) compares the station's start-up on host
# one with the daemon reachable and without.
# Prints its figures as BENCH lines, as bench/BenchReport.h does.
# Usage: bench/discovery.sh PROGRAM   (as root; prints "skipped" otherwise)
set -uo pipefail

program=$(realpath "${1:?usage: discovery.sh PROGRAM}")
here=$(cd "$(dirname "$0")" && pwd)
resources="$here/../src/resources"
rounds=5

if [ "$(id -u)" -ne 0 ]; then
  echo "discovery: skipped, network namespaces need root"
  exit 0
fi
for tool in ip unshare nsenter Xvfb xdotool pulseaudio pactl parec dbus-daemon dbus-send \
  dbus-monitor avahi-daemon avahi-browse avahi-publish awk; do
  command -v "$tool" >/dev/null || { echo "discovery: skipped, $tool is missing"; exit 0; }
done

run=$(mktemp -d /tmp/chatterly-discovery.XXXXXX)
tag="cd$$"
pids=()
fail() {
  echo "discovery: FAILED: $*"
  exit 1
}
. "$here/../tests/e2e/lib.sh"

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  remove_hosts one two
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# --- two hosts with Avahi, a display, a sound server ---------------------------
hosts 10.79.0 one two
own_host one one
own_host two two
start_avahi one
start_avahi two
display
sound one
# Each daemon has settled its own host name before anything is timed.
for h in one two; do
  wait_until 30 grep -q "Server startup complete" "$run/host-$h.avahi.log" ||
    fail "host $h's avahi-daemon did not settle its host name"
done

# stamp: each line read, after the time it came (seconds since the epoch).
stamp() {
  local line
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}
(cd / && enter_host two avahi-browse -rpk _chatterly._tcp 2>/dev/null) \
  > >(stamp >"$run/browse.log") &
pids+=($!)
(cd / && enter_host one dbus-monitor --system --profile \
  "type='method_call',interface='org.freedesktop.Avahi.EntryGroup',member='Commit'" 2>/dev/null) \
  > >(stamp >"$run/commits.log") &
pids+=($!)
wait_until 20 grep -qs NameAcquired "$run/commits.log" || fail "dbus-monitor did not start"

# first_after FILE PATTERN TIME: the time of FILE's first line after TIME that
# matches PATTERN (nothing when there is none).
first_after() {
  awk -v t="$3" -v p="$2" '$1 > t && $0 ~ p { print $1; exit }' "$1"
}
listed='^[0-9.]+ =;[^;]*;IPv4;one;_chatterly\._tcp;local;'
removed='^[0-9.]+ -;[^;]*;IPv4;one;_chatterly\._tcp;local$'
seen() { [ -n "$(first_after "$run/$1" "$2" "$3")" ]; }
ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f\n", (b - a) * 1000 }'; }

wd="$run/station"
mkdir -p "$wd/.config/pulse"
echo "autospawn = no" >"$wd/.config/pulse/client.conf"
cp "$resources/Busy.wav" "$resources/CallWaiting.wav" "$wd/"
version=$(sed -n 's/^project(Chatterly VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")

# once station|publish: starts that publisher on host one, waits until host
# two resolves its service, ends it and waits until host two saw it leave.
# Prints the milliseconds from its start to its commit and to its listing.
once() {
  local started pid ended_at commit found
  started=$EPOCHREALTIME
  if [ "$1" = station ]; then
    (cd "$wd" && enter_host one env PULSE_SERVER="$(server one)" HOME="$wd" \
      XDG_RUNTIME_DIR="$run/pa-one/run" QT_QPA_PLATFORM=xcb "$program" >>"$run/station.log" 2>&1) &
  else
    (cd / && enter_host one avahi-publish -s one _chatterly._tcp 2005 txtvers=1 \
      "version=$version" >/dev/null 2>&1) &
  fi
  pid=$!
  pids+=($pid)
  wait_until 30 seen browse.log "$listed" "$started" || fail "host two did not list the $1"
  kill -TERM "$pid"
  ended_at=$EPOCHREALTIME
  wait_until 30 ended "$pid" || fail "the $1 did not end on SIGTERM"
  wait "$pid"
  forget "$pid"
  wait_until 30 seen browse.log "$removed" "$ended_at" || fail "the $1's service did not leave"
  commit=$(first_after "$run/commits.log" 'Commit$' "$started")
  found=$(first_after "$run/browse.log" "$listed" "$started")
  [ -n "$commit" ] || fail "the $1 committed no service"
  echo "$(ms "$started" "$commit") $(ms "$started" "$found")"
}

# median FILE COLUMN, range FILE COLUMN: of that column's values.
sorted() { awk -v c="$2" '{ print $c }' "$1" | sort -n; }
median() { sorted "$@" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
range() { sorted "$@" | awk 'NR == 1 { a = $1 } END { print a "-" $1 }'; }

: >"$run/station.times"
: >"$run/publish.times"
for _ in $(seq "$rounds"); do
  once station >>"$run/station.times"
  once publish >>"$run/publish.times"
done
# The share after the commit: Avahi's probing, announcing and resolving.
for kind in station publish; do
  awk '{ print $0, $2 - $1 }' "$run/$kind.times" >"$run/$kind.all"
done

# report NAME VALUE UNIT BASELINE TARGET [ratio]: a figure to stay at most
# TARGET (of value / BASELINE with "ratio"; BASELINE may be empty), printed as
# bench/BenchReport.h prints it.
report() {
  awk -v name="$1" -v value="$2" -v unit="$3" -v baseline="$4" -v target="$5" -v on_ratio="${6:-}" '
    BEGIN {
      has_ratio = baseline != "" && baseline + 0 != 0
      ratio = has_ratio ? value / baseline : 0
      judged = on_ratio != "" && has_ratio ? ratio : value
      budget = target > 0 ? judged / target : 0
      printf "BENCH\t%s\t%.4g\t%s\t%s\t%s\t%s\t%.2f\t%s\n", name, value, unit,
        baseline == "" ? "" : sprintf("%.4g", baseline), has_ratio ? sprintf("%.2f", ratio) : "",
        on_ratio != "" ? sprintf("ratio <= %g", target) : sprintf("<= %g %s", target, unit),
        budget, budget <= 1 ? "yes" : "NO"
    }'
}

s_total=$(median "$run/station.all" 2)
s_own=$(median "$run/station.all" 1)
s_avahi=$(median "$run/station.all" 3)
p_total=$(median "$run/publish.all" 2)
p_avahi=$(median "$run/publish.all" 3)
echo "discovery: the station listed on host two $s_total ms after its start (median of $rounds;" \
  "$(range "$run/station.all" 2)); avahi-publish $p_total ms ($(range "$run/publish.all" 2))"
echo "discovery: the station's own share, start to commit, $s_own ms" \
  "($(range "$run/station.all" 1)); Avahi's, commit to listed, $s_avahi ms for the station," \
  "$p_avahi ms for avahi-publish"
report "discovery: start to listed elsewhere (median of $rounds)" "$s_total" ms "$p_total" 1000
report "discovery: start to published on the bus (median of $rounds)" "$s_own" ms "" 300
report "discovery: Avahi's share, commit to listed (median of $rounds)" "$s_avahi" ms "$p_avahi" \
  1.2 ratio

# Start-up to a listening window with the daemon answering, against none.
startup="$(dirname "$program")/bench_startup"
if [ -x "$startup" ]; then
  (cd / && enter_host one env PULSE_SERVER="$(server one)" HOME="$wd" \
    XDG_RUNTIME_DIR="$run/pa-one/run" QT_QPA_PLATFORM=xcb "$startup" "$program" --with-avahi) ||
    fail "the start-up comparison failed"
else
  echo "discovery: start-up with and without Avahi skipped, no $startup"
fi
