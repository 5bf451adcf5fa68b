#!/usr/bin/env bash
# The machine's log of a program run without windows.
#  1. In an empty folder the start-up fails: the failure is an error line on
#     standard output and on standard error, its message box a line with the
#     answer it took, and the exit code stays 0.
#  2. A machine whose virtual modem comes up: the status text built of pieces
#     ("DCE ", the port, " ONLINE") is one whole line, and the port's opening
#     is a line event. SIGTERM stops it with a stop line.
#   log.sh SOURCE_DIR VELLORAN VLINIT
set -euo pipefail
source_dir=$1 velloran=$2 vlinit=$3
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() {
  echo "headless log: $*" >&2
  for f in "$work"/*.out "$work"/*.err; do [ -f "$f" ] && { echo "--- $f"; cat "$f"; }; done >&2
  exit 1
}
expect() {  # expect FILE PATTERN WHAT
  grep -qE -- "$2" "$1" || fail "no $3 in $(basename "$1")"
}
stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} '

mkdir "$work/empty"
code=0
(cd "$work/empty" && VL_HEADLESS=1 timeout 30 "$velloran" > "$work/empty.out" 2> "$work/empty.err") || code=$?
[ "$code" = 0 ] || fail "exit code $code after a start-up failure, not 0"
expect "$work/empty.out" "${stamp}error  start-up failed: vl.INI Missing\$" "start-up failure line"
expect "$work/empty.err" "start-up failed: vl.INI Missing\$" "start-up failure line"
expect "$work/empty.out" "${stamp}box    \"vl.INI Missing\" Velloran will shutdown -> OK\$" "message box line"

source "$source_dir/tests/common/free_port.sh"
port=$(free_port) || fail "no free port"
"$vlinit" "$work/m" --machid 401 --control-id admin --control-key secret \
  --virtual-modem "127.0.0.1:$port" > /dev/null
(cd "$work/m" && exec env VL_HEADLESS=1 "$velloran" > "$work/m.out" 2> "$work/m.err") &
pid=$!
for _ in $(seq 100); do
  grep -q 'ONLINE' "$work/m.out" && break
  kill -0 "$pid" 2>/dev/null || fail "the machine ended by itself"
  sleep 0.2
done
expect "$work/m.out" "${stamp}start  machine 401 started in " "start line"
expect "$work/m.out" "${stamp}line   port open\$" "line event"
expect "$work/m.out" "${stamp}status DCE 1 ONLINE\$" "whole status line"
if grep -qE 'status DCE ?1?$' "$work/m.out"; then fail "a status line written in pieces"; fi
# The service stops a machine with SIGTERM: the log says so, and the signal
# still ends the process.
kill "$pid"
code=0
wait "$pid" || code=$?
pid=""
[ "$code" = 143 ] || fail "exit status $code after SIGTERM, not 143"
expect "$work/m.out" "${stamp}stop   stopped by SIGTERM\$" "stop line"
expect "$work/empty.out" "${stamp}stop   ended\$" "end line"
echo "headless log: start-up failure, box, line event, status line and stop logged"
