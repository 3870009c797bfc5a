#!/usr/bin/env bash
# Builds the release program and its benchmarks in build-release/ (build/ is
# left as it is), runs every benchmark under a private sound server and a
# private X display, then bench/discovery.sh on hosts of its own, and prints
# one table of every figure beside its baseline, ratio and target. The same
# table goes to build-release/bench/bench.csv, a chart of how much of its
# target each figure uses to build-release/bench/bench.png, and one of how far
# the voice clean-up brings the noise down to build-release/bench/cleanup.png. Exit 0 when the
# run completed, whether or not every target was met. Usage: tools/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCHATTERLY_TESTS=OFF \
  -DCHATTERLY_BENCH=ON >/dev/null
cmake --build build-release
out=build-release/bench
mkdir -p "$out"
log=$out/bench.log

xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do
  n=$((n + 1))
done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
for _ in $(seq 1 100); do
  xdotool getmouselocation >/dev/null 2>&1 && break
  sleep 0.1
done

# Each benchmark prints its own words to the terminal and its figures as
# BENCH lines (bench/BenchReport.h) into the log as well.
: >"$log"
set +e
LOG=$log tools/with-sound-server.sh bash -c '
set -o pipefail
status=0
root=$PWD
for b in build-release/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  # Each in a scratch working directory: what a station keeps there (its
  # recording, its history) stays out of the checkout.
  work=$(mktemp -d)
  (cd "$work" && "$root/$b") | tee -a "$LOG" | grep -v -e "^BENCH" -e "^CHART" ||
    { echo "$(basename "$b") FAILED"; status=1; }
  rm -rf "$work"
done
# Discovery through Avahi between two hosts of its own (as root; it says
# "skipped" otherwise).
echo "== discovery.sh"
bench/discovery.sh build-release/chatterly | tee -a "$LOG" | grep -v "^BENCH" ||
  { echo "discovery.sh FAILED"; status=1; }
exit $status'
status=$?
set -e

{
  echo "figure,value,unit,baseline,ratio,target,budget,met"
  grep '^BENCH' "$log" | cut -f2- | awk -F'\t' -v OFS=, '{ for (i = 1; i <= NF; i++) if ($i ~ /[,"]/) $i = "\"" $i "\""; print }'
} >"$out/bench.csv"

echo
grep '^BENCH' "$log" | cut -f2- | awk -F'\t' '
  BEGIN { printf "%-56s %10s %-5s %10s %7s %-17s %s\n", "figure", "value", "unit", "baseline", "ratio", "target", "met" }
  { printf "%-56s %10s %-5s %10s %7s %-17s %s\n", $1, $2, $3, $4 == "" ? "-" : $4, $5 == "" ? "-" : $5, $6, $8 }'
echo
echo "table: $out/bench.csv"

if command -v gnuplot >/dev/null; then
  grep '^BENCH' "$log" | cut -f2,8 | nl -w1 -s$'\t' >"$out/budget.dat"
  rows=$(wc -l <"$out/budget.dat")
  gnuplot <<EOF
set terminal pngcairo size 900,$((160 + rows * 22)) font "DejaVu Sans,9"
set output "$out/bench.png"
set datafile separator "\t"
set title "Share of its target each figure uses (at most 1 meets it)"
set style fill solid 0.8 border -1
set yrange [$((rows + 1)):0]
set xrange [0:*]
set ytics nomirror
set grid xtics
set arrow from 1, graph 0 to 1, graph 1 nohead lw 2 lc rgb "#c00000"
unset key
plot "$out/budget.dat" using (\$3 / 2):1:(\$3 / 2):(0.35):ytic(2) with boxxyerror lc rgb "#4a7ab5"
EOF
  echo "chart: $out/bench.png"
  # The voice clean-up's noise in the pauses, per mix and level (off, gentle,
  # strong), drawn as its drop against off.
  grep $'^CHART\tcleanup noise' "$log" | cut -f3- | awk -F'\t' -v OFS='\t' '
    !($1 in row) { order[++n] = $1 }
    { row[$1] = row[$1] OFS $3 }
    END { for (i = 1; i <= n; i++) print "\"" order[i] "\"" row[order[i]] }' >"$out/cleanup.dat"
  if [ -s "$out/cleanup.dat" ]; then
    gnuplot <<EOF
set terminal pngcairo size 900,420 font "DejaVu Sans,9"
set output "$out/cleanup.png"
set datafile separator "\t"
set title "How far the clean-up brings the noise in the pauses down, against off (near speaker, noise 10 dB under the speech)"
set ylabel "dB"
set yrange [0:*]
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set grid ytics
set key top left
set arrow from graph 0, first 15 to graph 1, first 15 nohead lw 2 lc rgb "#c00000"
set label "goal at gentle: 15 dB" at graph 0.01, first 16 tc rgb "#c00000" front
plot "$out/cleanup.dat" using (\$2 - \$3):xtic(1) title "gentle" lc rgb "#4a7ab5", \\
  "" using (\$2 - \$4) title "strong" lc rgb "#2a4a75"
EOF
    echo "chart: $out/cleanup.png"
  fi
fi
exit "$status"
