#!/usr/bin/env bash
# The README's main job without a display: tools/demo.sh runs its two
# machines headless and must carry the mail with its attachment end to end,
# print the subject and "attachment identical", and end with 0. The machines
# live in a fresh folder and listen on free ports, so a demo of one's own may
# run meanwhile.
#   demo.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$source_dir/tests/common/free_port.sh"
port_a=$(free_port) && port_b=$(free_port) || { echo "headless demo: no free port" >&2; exit 1; }
[ "$port_a" != "$port_b" ] || port_b=$(free_port)

code=0
env -u DISPLAY VL_DEMO_ROOT="$work/demo" VL_DEMO_PORTS="$port_a $port_b" VL_DEMO_LIMIT=150 \
  bash "$source_dir/tools/demo.sh" "$build" 2>&1 | tee "$work/out" || code=$?
fail() { echo "headless demo: $*" >&2; exit 1; }
[ "$code" = 0 ] || fail "tools/demo.sh ended with $code"
grep -qE '^demo.sh: delivered: "Demo mail [0-9]{6}" from anna@401 to bob@402' "$work/out" || fail "no delivered subject"
grep -q ': attachment identical$' "$work/out" || fail "no identical attachment"
grep -q '^\[a\] .* status Velloran@402 Verified OK$' "$work/out" || fail "machine a's log was not shown"
grep -q '^\[b\] .* line   carrier on' "$work/out" || fail "machine b's log was not shown"
# The machines know each other's keys; each names the mail in its log, and
# a call's bytes are one line, not one per block.
grep -q '(authenticated, encrypted)$' "$work/out" || fail "the call was not authenticated and encrypted"
grep -q '^\[a\] .* mail   sent anna@401 to bob@402, [0-9]* blocks$' "$work/out" || fail "a did not name the mail it sent"
grep -q '^\[b\] .* mail   received anna@401 to bob@402, [0-9]* blocks$' "$work/out" || fail "b did not name the mail"
[ "$(grep -c '^\[b\] .* status Comm Action Is Ok : Bytes Received' "$work/out")" = 1 ] ||
  fail "b's log has not one line of the call's bytes"
