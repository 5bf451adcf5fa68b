#!/usr/bin/env bash
# Prints how much processor time the program takes on the desktop while it
# idles: a fresh machine's console, restored and left alone for SECONDS
# (default 60; four 15-second ticks with their clock refreshes and one local
# delivery pass every 30 s). Run under a virtual X server when there is no
# display:
#   xvfb-run -a bash bench/desktop/idle.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
"$build/tools/vlinit" "$work/m" --machid 401 --control-id admin --control-key secret \
  --virtual-modem 127.0.0.1:0 > /dev/null
printf 'wait Velloran\nrestore Velloran\n' > "$work/script"
(cd "$work/m" && VL_SCRIPT="$work/script" VL_SCRIPT_LOG="$work/log" exec "$build/velloran") &
pid=$!
until grep -qs '^end$' "$work/log"; do sleep 0.2; done
sleep 5  # start-up and the splash are not idling
ticks=$(getconf CLK_TCK)
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(cpu)
start=$(date +%s.%N)
sleep "$seconds"
after=$(cpu)
end=$(date +%s.%N)
awk -v b="$before" -v a="$after" -v t="$ticks" -v s="$start" -v e="$end" 'BEGIN {
  used = (a - b) / t; wall = e - s
  printf "desktop idle: %.2f s of processor time in %.1f s of wall time (%.3f %% of one core)\n", used, wall, 100 * used / wall
}'
