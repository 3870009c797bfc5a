# Shell helpers shared by the end-to-end scripts (sourced, not run).
# The sourcing script provides: run (its scratch folder), tag (the prefix of
# the network namespaces it makes), the array pids (every process it starts
# goes there, so that its cleanup ends exactly those) and fail MESSAGE.

# The program never reaches the machine's system bus (nor its Avahi daemon):
# without a host of its own (own_host) it finds no system bus at all.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/chatterly-no-system-bus"

# wait_until SECONDS COMMAND...: polls COMMAND until it succeeds.
wait_until() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$end" ] && return 1
    sleep 0.1
  done
}

# descendants PID: the processes PID started, and theirs.
descendants() {
  local child
  for child in $(pgrep -P "$1"); do
    echo "$child"
    descendants "$child"
  done
}

# ended PID: the process has ended (a zombie counts as ended).
ended() {
  [ ! -e "/proc/$1" ] || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]
}

# hosts PREFIX NAME...: a network namespace "$tag-NAME" for each NAME, joined
# by a bridge in "$tag-br"; the i-th NAME gets the address PREFIX.i/24.
hosts() {
  local prefix=$1 n=1 h
  shift
  ip netns add "$tag-br" && ip -n "$tag-br" link add br0 type bridge &&
    ip -n "$tag-br" link set br0 up || fail "cannot make the bridge"
  for h in "$@"; do
    ip netns add "$tag-$h" &&
      ip link add "$tag-${h}0" type veth peer name "$tag-${h}1" &&
      ip link set "$tag-${h}0" netns "$tag-$h" &&
      ip link set "$tag-${h}1" netns "$tag-br" &&
      ip -n "$tag-br" link set "$tag-${h}1" master br0 &&
      ip -n "$tag-br" link set "$tag-${h}1" up &&
      ip -n "$tag-$h" addr add "$prefix.$n/24" dev "$tag-${h}0" &&
      ip -n "$tag-$h" link set lo up &&
      ip -n "$tag-$h" link set "$tag-${h}0" up || fail "cannot make host $h"
    n=$((n + 1))
  done
}

# remove_hosts NAME...: deletes the namespaces hosts made (and the bridge).
remove_hosts() {
  local h
  for h in "$@" br; do ip netns del "$tag-$h" 2>/dev/null; done
}

# own_host NAME HOST_NAME: host NAME (one hosts made) becomes a machine of
# its own: mount and UTS namespaces with the host name HOST_NAME, private
# /run/dbus and /run/avahi-daemon, and a system bus of its own there
# (system_bus_pid_NAME). A keeper process holds the namespaces
# (keeper_NAME); everything is started by the script, so its cleanup ends it.
own_host() {
  local ready="$run/host-$1.ready"
  ip netns exec "$tag-$1" unshare --mount --uts bash -c '
    mount --make-rprivate / &&
      mount -t tmpfs tmpfs /run/dbus &&
      mkdir -p /run/avahi-daemon && mount -t tmpfs tmpfs /run/avahi-daemon &&
      hostname "$1" && touch "$2" || exit 1
    exec sleep infinity' own_host "$2" "$ready" &
  pids+=($!)
  eval "keeper_$1=$!"
  wait_until 10 test -e "$ready" || fail "host $1 has no namespaces of its own"
  (cd / && enter_host "$1" dbus-daemon --system --nofork --nopidfile \
    >"$run/host-$1.dbus.log" 2>&1) &
  pids+=($!)
  eval "system_bus_pid_$1=$!"
  wait_until 10 in_host "$1" test -S /run/dbus/system_bus_socket ||
    fail "host $1's system bus did not start"
}

# enter_host NAME COMMAND...: replaces the shell with COMMAND run on host NAME
# (its network, mount and UTS namespaces, so its system bus) in the current
# directory; the last thing of a subshell: ( cd DIR && enter_host NAME ... ) &
enter_host() {
  local keeper
  eval "keeper=\$keeper_$1"
  shift
  exec nsenter -t "$keeper" --mount --uts --net --wd="$PWD" env -u DBUS_SYSTEM_BUS_ADDRESS "$@"
}
# in_host NAME COMMAND...: runs COMMAND on host NAME.
in_host() { (enter_host "$@"); }

# start_avahi NAME: an avahi-daemon on host NAME's system bus (avahi_pid_NAME;
# its log in "$run/host-NAME.avahi.log"), once it has joined the bus.
# stop_avahi NAME ends it.
start_avahi() {
  (cd / && enter_host "$1" avahi-daemon --no-rlimits --no-chroot >"$run/host-$1.avahi.log" 2>&1) &
  pids+=($!)
  eval "avahi_pid_$1=$!"
  wait_until 20 avahi_on_bus "$1" || fail "host $1's avahi-daemon did not start"
}
avahi_on_bus() { # NAME
  in_host "$1" dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Avahi 2>/dev/null | grep -q true
}
stop_avahi() {
  local pid
  eval "pid=\$avahi_pid_$1"
  kill "$pid" && wait "$pid"
  forget "$pid"
}

# forget PID: takes an ended process off the list of those the cleanup ends.
forget() {
  local p kept=()
  for p in "${pids[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
  pids=("${kept[@]}")
}

# display: starts an Xvfb on a free display number and exports DISPLAY.
display() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do
    n=$((n + 1))
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  wait_until 20 xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb did not start"
}

# sound NAME: a private sound server with the null sink spk (the loudspeaker)
# whose monitor is the default source (the microphone), on the socket
# "$(server NAME)". Its PID is left in sound_pid_NAME; started again after it
# was ended, it listens on the same socket.
sound() {
  local d="$run/pa-$1"
  mkdir -p "$d/run" "$d/home" && chmod 700 "$d/run"
  HOME="$d/home" XDG_RUNTIME_DIR="$d/run" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=no --disallow-exit --log-target="file:$d/pa.log" \
    --load="module-null-sink sink_name=spk rate=22050 channels=1" \
    --load="module-native-protocol-unix socket=$d/native auth-anonymous=1" &
  pids+=($!)
  eval "sound_pid_$1=$!"
  wait_until 20 pactl --server="unix:$d/native" info >/dev/null 2>&1 ||
    fail "the sound server $1 did not start"
  pactl --server="unix:$d/native" set-default-sink spk
  pactl --server="unix:$d/native" set-default-source spk.monitor
  # A low-latency stream keeps the null sink from rendering in 2 s blocks.
  parec --server="unix:$d/native" -d spk.monitor --latency-msec=20 >/dev/null 2>&1 &
  pids+=($!)
}
server() { echo "unix:$run/pa-$1/native"; }

# type_remote WINDOW TEXT: into a station's remote-station box, replacing its
# text. The box stands at 73, 7, 136 wide in the window's 216 x 183 units.
type_remote() {
  local w=$1 WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$w")"
  xdotool windowfocus --sync "$w"
  xdotool mousemove --window "$w" $((WIDTH * 141 / 216)) $((HEIGHT * 12 / 183)) click 1
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 30 "$2"
}

# accessibility_bus: a session bus of the script's own (exported as
# DBUS_SESSION_BUS_ADDRESS) and on it the accessibility bus with its registry,
# started by at-spi-bus-launcher (launcher_pid; what it starts are its
# descendants). Needs a11y_launcher set to the launcher's path.
accessibility_bus() {
  mkdir -p "$run/a11y" && chmod 700 "$run/a11y"
  dbus-daemon --session --address="unix:path=$run/a11y/session" --nofork --nopidfile \
    >"$run/a11y/dbus.log" 2>&1 &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$run/a11y/session"
  wait_until 10 test -S "$run/a11y/session" || fail "the session bus did not start"
  XDG_RUNTIME_DIR="$run/a11y" "$a11y_launcher" --launch-immediately >"$run/a11y/launcher.log" 2>&1 &
  launcher_pid=$!
  pids+=($launcher_pid)
  wait_until 20 gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.a11y.Bus.GetAddress >/dev/null 2>&1 || fail "the accessibility bus did not start"
}
