#!/usr/bin/env bash
# The README's main job on a (virtual) desktop: tools/demo.sh makes its two
# machines and opens both consoles; each program plays a script. On machine
# b (402) the control login makes the account bob; then, on machine a (401),
# the control login makes anna, anna writes bob a mail and sends it, and the
# courier carries it over the virtual modems at the next tick; bob reads it
# on b. Both programs are closed at the end and must end with 0. Pictures of
# anna's writer and of bob's mailbox and reader stay in OUTDIR.
#   pair.sh SOURCE_DIR BUILD_DIR OUTDIR
set -euo pipefail
source_dir=$1 build=$2 out=$3
mkdir -p "$out"
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill -- -"$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() {
  echo "desktop pair: $*" >&2
  for f in a.log b.log demo.out; do [ -f "$work/$f" ] && { echo "--- $f (end)"; grep -v '^done ' "$work/$f" | tail -5; } >&2; done
  exit 1
}

source "$source_dir/tests/common/free_port.sh"
port_a=$(free_port) || fail "no free port"
port_b=$(free_port) || fail "no free port"
[ "$port_a" != "$port_b" ] || port_b=$(free_port)

source "$(dirname "${BASH_SOURCE[0]}")/steps.sh"

# b first: a's own control mode waits for b's snap "b-ready", so that b's
# link is up again before a sends.
{
  echo 'wait Velloran'
  control_login
  make_account bob bkey "Bob Jones"
  control_logout
  echo 'snap b-ready Velloran'
  echo 'snap b-mail Velloran'
  log_in bob bkey
  cat <<'SCRIPT'
select "Velloran :: Login :: bob" 6002 0
sleep 500
snap b-mailbox "Velloran :: Login :: bob"
select "Velloran :: Login :: bob" 6002 0 double
wait "Velloran :: Reader*"
sleep 500
snap b-reader "Velloran :: Reader*"
click "Velloran :: Reader*" 7014
gone "Velloran :: Reader*"
click "Velloran :: Login :: bob" 6005
gone "Velloran :: Login :: bob"
SCRIPT
  close_program
} > "$work/b.script"
{
  printf 'wait Velloran\nsnap a-start Velloran\n'
  control_login
  make_account anna akey "Anna Smith"
  control_logout
  log_in anna akey
  cat <<'SCRIPT'
click "Velloran :: Login :: anna" 6003
wait "Velloran :: Writer*"
type "Velloran :: Writer*" 3006 "Across the line"
type "Velloran :: Writer*" 3009 bob@402
type "Velloran :: Writer*" 3010 "Dear Bob, this mail came from machine 401 by virtual modem."
sleep 500
snap a-writer "Velloran :: Writer*"
click "Velloran :: Writer*" 3014
answer "Velloran :: Writer*" 6
text "Velloran :: Writer*" 3006 ""
click "Velloran :: Writer*" 3015
gone "Velloran :: Writer*"
click "Velloran :: Login :: anna" 6005
gone "Velloran :: Login :: anna"
text Velloran 2023 "All remote mails delivered"
SCRIPT
  close_program
} > "$work/a.script"

VL_DEMO_ROOT="$work/demo" VL_DEMO_PORTS="$port_a $port_b" VL_DEMO_SCRIPTS="$work" \
  setsid bash "$source_dir/tools/demo.sh" "$build" > "$work/demo.out" 2>&1 &
pid=$!

source "$(dirname "${BASH_SOURCE[0]}")/watch.sh"
declare -A want=()
# The snaps b-ready, a-start and b-mail are barriers, answered without a
# picture: a-start once b has logged out of control mode, b-mail once bob's
# mailbox (as the store reads it) holds anna's mail.
skip="b-ready a-start b-mail"
release() { grep -qs "^snap $2"$'\t' "$1" && touch "$1.$2.done"; return 0; }
mail_arrived() {
  "$build/tools/vlpost" --read "$work/demo/b" bob "$work/read" --key bkey 2> /dev/null | grep -q '^mail 1 from anna@401 subject Across the line'
}
deadline=$((SECONDS + 200))
while :; do
  [ $SECONDS -lt $deadline ] || fail "timed out"
  release "$work/b.log" b-ready
  [ -f "$work/b.log.b-ready.done" ] && release "$work/a.log" a-start
  [ -f "$work/b.log.b-mail.done" ] || ! mail_arrived || release "$work/b.log" b-mail
  look_at_log "$work/a.log"
  look_at_log "$work/b.log"
  # a closes once its mail is sent, b once bob has read it.
  if ! kill -0 "$pid" 2>/dev/null; then
    grep -qs '^end$' "$work/a.log" || fail "machine a's program ended before its script"
    grep -qs '^end$' "$work/b.log" && break
  fi
  sleep 0.2
done
code=0
wait "$pid" || code=$?
[ "$code" -eq 0 ] || fail "machine a's program ended with $code"
# b was started by demo.sh in the same process group; it closes by itself.
for _ in $(seq 50); do pgrep -g "$pid" > /dev/null || break; sleep 0.2; done
pgrep -g "$pid" > /dev/null && fail "machine b's program is still running"
pid=""
check_pictures a-writer b-mailbox b-reader
grep -qx "Dear Bob, this mail came from machine 401 by virtual modem." "$work/read/mail-1.txt" ||
  fail "bob's mail does not hold anna's text"
echo "desktop pair: passed"
