# Shell helpers of the install tests (sourced, not run). The sourcing script
# provides: run (its scratch folder), tag (the prefix of the network
# namespace it makes), the array pids (every process it starts goes there, so
# that its cleanup ends exactly those), fail MESSAGE, and here (its folder).
# It brings tests/e2e/lib.sh along: wait_until, ended, display, sound, server.
. "$here/../e2e/lib.sh"

app_id=org.chatterly.Chatterly
icon_sizes="16 32 48 64 128 256 512"

# installed_files: every file an installation holds, relative to its prefix
# (chatterly-launch.1.gz is a link to chatterly.1.gz).
installed_files() {
  local s
  printf '%s\n' bin/chatterly bin/chatterly-launch \
    share/chatterly/Busy.wav share/chatterly/CallWaiting.wav share/chatterly/chatterly.html \
    "share/applications/$app_id.desktop" "share/metainfo/$app_id.metainfo.xml" \
    share/man/man1/chatterly.1.gz share/man/man1/chatterly-launch.1.gz \
    share/doc/chatterly/copyright share/doc/chatterly/changelog.gz
  for s in $icon_sizes; do echo "share/icons/hicolor/${s}x$s/apps/$app_id.png"; done
}
# mode_of FILE (relative to the prefix): the permissions it must have.
mode_of() {
  case $1 in
    bin/*) echo 755 ;;
    *) echo 644 ;;
  esac
}

# desktop_key FILE KEY: the value of KEY in the [Desktop Entry] group.
desktop_key() {
  awk -v k="$2" '/^\[/ { g = ($0 == "[Desktop Entry]") } g && index($0, k "=") == 1 {
    print substr($0, length(k) + 2); exit }' "$1"
}

# check_contents PREFIX_DIR VERSION: what the installed files hold (the
# program's icon, manual, desktop entry and metainfo as they must be), with
# the validators' output shown.
check_contents() {
  local p=$1 version=$2 s size out status
  cmp -s "$p/share/chatterly/Busy.wav" "$resources/Busy.wav" &&
    cmp -s "$p/share/chatterly/CallWaiting.wav" "$resources/CallWaiting.wav" ||
    fail "the installed sound files differ from src/resources"
  [ "$(head -c 4 "$p/bin/chatterly" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] ||
    fail "bin/chatterly is no executable program"
  sh -n "$p/bin/chatterly-launch" || fail "bin/chatterly-launch is no shell script"
  for s in $icon_sizes; do
    size=$(python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read(24)
print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8] == b"\x89PNG\r\n\x1a\n" else "none")' \
      "$p/share/icons/hicolor/${s}x$s/apps/$app_id.png")
    [ "$size" = "${s}x$s" ] || fail "the ${s}x$s icon is $size"
  done
  gzip -t "$p/share/man/man1/chatterly.1.gz" || fail "the manual page is no gzip file"
  [ "$(readlink "$p/share/man/man1/chatterly-launch.1.gz")" = chatterly.1.gz ] ||
    fail "chatterly-launch(1) is no link to chatterly(1)"
  out=$(zcat "$p/share/man/man1/chatterly.1.gz" | groff -ww -mandoc -z 2>&1)
  [ -z "$out" ] || fail "groff warns about the manual page: $out"
  zcat "$p/share/man/man1/chatterly.1.gz" | grep -q "^\.TH CHATTERLY 1 .*\"Chatterly $version\"" ||
    fail "the manual page does not name version $version"
  # The page's text with its lines joined (groff breaks them anywhere).
  tr -s '\n ' '  ' <"$p/share/chatterly/chatterly.html" >"$run/manual.txt"
  for s in Parlio.mem Parlio.wav Busy.wav CallWaiting.wav 'sudo ufw allow 2005/tcp' \
    'sudo nft add rule inet filter input tcp dport 2005 accept' 'EXIT STATUS' 'SEE ALSO' \
    'XDG_DATA_HOME' '<i>address</i> == <i>alias</i>'; do
    grep -qF "$s" "$run/manual.txt" || fail "the HTML manual lacks \"$s\""
  done
  grep -q '<title>CHATTERLY</title>' "$p/share/chatterly/chatterly.html" ||
    fail "the HTML manual has no title"
  grep -qi 'Permission is hereby granted' "$p/share/doc/chatterly/copyright" ||
    fail "the copyright file holds no licence"
  # A new version needs its entry in the changelog and the metainfo's releases.
  zcat "$p/share/doc/chatterly/changelog.gz" | head -n 1 | grep -q "^chatterly ($version) " ||
    fail "the changelog's newest entry is not $version"

  local desktop="$p/share/applications/$app_id.desktop"
  local metainfo="$p/share/metainfo/$app_id.metainfo.xml"
  echo "   desktop-file-validate $desktop:"
  out=$(desktop-file-validate "$desktop" 2>&1)
  status=$?
  echo "${out:-   (no output)}" | sed 's/^/     /'
  [ "$status" -eq 0 ] || fail "desktop-file-validate failed ($status)"
  echo "   appstreamcli validate --no-net $metainfo:"
  out=$(appstreamcli validate --no-net "$metainfo" 2>&1)
  status=$?
  echo "$out" | sed '/^$/d; s/^/     /'
  [ "$status" -eq 0 ] || fail "appstreamcli validate failed ($status)"
  [ "$(desktop_key "$desktop" Name)" = Chatterly ] || fail "the desktop entry's Name"
  [ "$(desktop_key "$desktop" Exec)" = chatterly-launch ] || fail "the desktop entry's Exec"
  [ "$(desktop_key "$desktop" Icon)" = "$app_id" ] || fail "the desktop entry's Icon"
  [ "$(desktop_key "$desktop" Terminal)" = false ] || fail "the desktop entry's Terminal"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" &&
    grep -q "<id>$app_id</id>" "$metainfo" ||
    fail "the metainfo does not name the desktop entry or the id $app_id"
  grep -m 1 -o '<release version="[^"]*"' "$metainfo" | grep -qx "<release version=\"$version\"" ||
    fail "the metainfo's newest release is not $version"
}

# --- the station in a network namespace of its own ------------------------------
# world: the namespace "$tag-s" with only its loopback, one display, one sound
# server s.
world() {
  ip netns add "$tag-s" && ip -n "$tag-s" link set lo up || fail "cannot make the namespace"
  display
  sound s
  mkdir -p "$run/home/.config/pulse" "$run/xdg" && chmod 700 "$run/xdg"
  # The station's sound library must never start a server of its own.
  echo "autospawn = no" >"$run/home/.config/pulse/client.conf"
}
remove_world() { ip netns del "$tag-s" 2>/dev/null; }

# start_station COMMAND...: runs COMMAND (the launcher) in the namespace, as a
# desktop would start it: from /, with the temporary HOME, no session bus.
# Extra environment: the array station_env. Its PID goes to spid (the
# launcher becomes the program, so it stays the station's).
station_env=()
# in_station_env COMMAND...: becomes COMMAND in the station's namespace and
# environment (run it in the background: it replaces its shell). A stand-in
# xdg-open on its PATH writes down what it was asked to open, in $run/opened.
in_station_env() {
  mkdir -p "$run/viewer"
  printf '#!/bin/sh\necho "$@" >>"%s/opened"\n' "$run" >"$run/viewer/xdg-open"
  chmod +x "$run/viewer/xdg-open"
  cd / && exec ip netns exec "$tag-s" env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    -u XDG_DATA_HOME HOME="$run/home" XDG_RUNTIME_DIR="$run/xdg" PULSE_SERVER="$(server s)" \
    DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb PATH="$run/viewer:$PATH" "${station_env[@]}" "$@"
}
start_station() {
  started=("$@")
  in_station_env "$@" >"$run/station.log" 2>&1 &
  spid=$!
  pids+=($spid)
}
title() { xdotool getwindowname "$win" 2>/dev/null; }
title_is() { [ "$(title)" = "$1" ]; }
listening() { ip netns exec "$tag-s" ss -ltnH | grep -q ':2005 '; }
visible_windows() { xdotool search --all --onlyvisible --pid "$spid" --name '' 2>/dev/null | wc -l; }

# check_station PROGRAM WORKDIR DATADIR WMCLASS: the station started by
# start_station runs PROGRAM in WORKDIR, which got the sound files of DATADIR;
# its window comes up, it takes a first caller as the call and answers a
# second with the busy frame of DATADIR's Busy.wav; Alt+X ends it.
check_station() {
  local program=$1 work=$2 data=$3 wmclass=$4 f caller status
  win=$(timeout 60 xdotool search --all --sync --onlyvisible --pid "$spid" --name '^Chatterly$' |
    head -n 1)
  [ -n "$win" ] || fail "no window named Chatterly: $(tail -n 5 "$run/station.log")"
  title_is Chatterly || fail "the window is named \"$(title)\""
  [ "$(readlink "/proc/$spid/exe")" = "$(realpath "$program")" ] ||
    fail "the station runs $(readlink "/proc/$spid/exe"), not $program"
  [ "$(readlink "/proc/$spid/cwd")" = "$(realpath -m "$work")" ] ||
    fail "the station runs in $(readlink "/proc/$spid/cwd"), not $work"
  for f in Busy.wav CallWaiting.wav; do
    cmp -s "$work/$f" "$data/$f" || fail "the working directory did not get $f"
  done
  xdotool search --all --pid "$spid" --class "^$wmclass\$" | grep -qx "$win" ||
    fail "the window's class is not $wmclass (the desktop entry's StartupWMClass)"
  echo "   window $win of process $spid in $work"

  wait_until 30 listening || fail "the station does not listen on port 2005"
  rm -f "$run/go"
  ip netns exec "$tag-s" python3 "$here/call.py" "$data/Busy.wav" "$run/go" >"$run/call.log" 2>&1 &
  caller=$!
  pids+=($caller)
  wait_until 30 title_is "Chatterly Connected to 127.0.0.1" ||
    fail "the first caller is not the call: \"$(title)\"; $(cat "$run/call.log")"
  touch "$run/go"
  wait_until 90 ended "$caller" || fail "the callers did not finish: $(cat "$run/call.log")"
  wait "$caller"
  status=$?
  sed 's/^/   /' "$run/call.log"
  [ "$status" -eq 0 ] || fail "the second caller did not get the busy frame"
  wait_until 30 title_is Chatterly || fail "the station did not return to idle: \"$(title)\""
  [ "$(visible_windows)" -eq 1 ] || fail "the station shows $(visible_windows) windows (a message box?)"

  xdotool windowfocus --sync "$win" && xdotool key --clearmodifiers F1 || fail "cannot press F1"
  opened_help() { grep -qx "file://$(realpath "$data")/chatterly.html" "$run/opened" 2>/dev/null; }
  wait_until 20 opened_help || fail "F1 did not open the help page: $(cat "$run/opened" 2>&1)"
  echo "   F1 opened $(cat "$run/opened")"

  # A second start in the same working directory ends at once, leaving the
  # first one running.
  in_station_env "${started[@]}" >"$run/second.log" 2>&1 &
  local second=$!
  pids+=($second)
  wait_until 20 ended "$second" || fail "a second start did not end"
  status=0
  wait "$second" || status=$?
  [ "$status" -eq 0 ] && grep -q "already runs" "$run/second.log" ||
    fail "a second start ended with $status: $(cat "$run/second.log")"
  ended "$spid" && fail "the first station ended at the second start"
  echo "   a second start ended at once: $(cat "$run/second.log")"

  xdotool windowfocus --sync "$win" && xdotool key --clearmodifiers alt+x ||
    fail "cannot press Alt+X"
  wait_until 20 ended "$spid" || fail "the station did not end after Alt+X"
  wait "$spid"
  status=$?
  [ "$status" -eq 0 ] || fail "the station exited with status $status: $(tail -n 5 "$run/station.log")"
  wait_until 10 eval '! listening' || fail "port 2005 is still taken"
  echo "   Alt+X closed the window; the station ended with status 0"
}
