#!/usr/bin/env bash
# demo.sh BUILD_DIR -- makes two demo machines; on a desktop it opens their
# consoles, without one it carries a mail from one to the other by itself.
#
# Machine "a" (MachID 401) lives in demo/a of the source tree, machine "b"
# (402) in demo/b; both have the control login admin / secret. Their modems
# are virtual modems on loopback: a takes calls on 127.0.0.1:7401 and its
# phone book reaches 402 on 127.0.0.1:7402, and b the other way round; both
# answer by themselves. The automatic courier is off, so a mail goes to the
# other machine at the next 15-second tick after the writer's Send (or after
# vlpost --call). The folders are made once with vlinit; later runs keep them
# as they are (accounts and mail included). Delete demo/ to start afresh.
# Each knows the other's public key (vlinit --show-key, --add-peer), so their
# calls are authenticated and encrypted.
#
# On a desktop (DISPLAY names a reachable X server) b's console is started in
# the background, then a's in the foreground; the README says what to click.
#
# Without one (or with VL_HEADLESS=1) both machines run without windows and
# the demo does what a person would: makes the accounts anna on a and bob on
# b, posts a mail with an attachment from anna to bob@402, asks a for a call,
# shows both machines' logs as they happen ("[a] ...", "[b] ..."), reads bob's
# mailbox until the mail is there, compares the attachment byte for byte,
# prints a summary and stops both machines: about a minute, exit code 0 when
# the mail arrived whole, 1 otherwise (after at most VL_DEMO_LIMIT seconds,
# 150 by default).
#
# For scripted runs (the tests):
#   VL_DEMO_ROOT     folder for a/ and b/ instead of demo/
#   VL_DEMO_PORTS    "PORT_A PORT_B" instead of "7401 7402"
#   VL_DEMO_SCRIPTS  folder with a.script and b.script, played by each
#                    machine's program on the desktop (logs a.log and b.log
#                    beside them)
set -euo pipefail

die() { echo "demo.sh: $*" >&2; exit 1; }

[ $# -ge 1 ] || die "usage: bash tools/demo.sh BUILD_DIR"
[ -d "$1" ] || die "no build folder '$1' (build first: cmake -S . -B $1 && cmake --build $1)"
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
vlinit="$build/tools/vlinit"
vlpost="$build/tools/vlpost"
velloran="$build/velloran"
[ -x "$vlinit" ] || die "vlinit not built ($vlinit missing)"
demo=${VL_DEMO_ROOT:-$root/demo}
read -r port_a port_b <<< "${VL_DEMO_PORTS:-7401 7402}"
[ -n "${port_b:-}" ] || die "VL_DEMO_PORTS needs two ports"

# set_up NAME MACHID OWNER PORT OTHER_MACHID OTHER_PORT
set_up() {
  local folder="$demo/$1"
  if [ -f "$folder/VL.INI" ] && [ -f "$folder/Velloran.INI" ]; then
    echo "demo.sh: machine $1 already set up in $folder"
    return
  fi
  echo "demo.sh: setting up machine $1 in $folder"
  "$vlinit" "$folder" --force --machid "$2" --owner "$3" \
    --control-id admin --control-key secret --ecourier 0 \
    --virtual-modem "127.0.0.1:$4" --phonebook "$5=127.0.0.1:$6"
}
set_up a 401 "Demo machine A" "$port_a" 402 "$port_b"
set_up b 402 "Demo machine B" "$port_b" 401 "$port_a"

# key_of NAME: the machine's public key (a machine made without one gets its
# key pair first).
key_of() {
  "$vlinit" "$demo/$1" --show-key 2> /dev/null ||
    { "$vlinit" "$demo/$1" --make-key > /dev/null && "$vlinit" "$demo/$1" --show-key; }
}
# Each machine knows the other's key, so their calls are authenticated and
# encrypted (vlinit --add-peer replaces a key it had).
key_a=$(key_of a) && key_b=$(key_of b) || die "no machine key in $demo/a or $demo/b"
"$vlinit" "$demo/b" --add-peer 401 "$key_a" > /dev/null || die "machine b cannot learn a's key"
"$vlinit" "$demo/a" --add-peer 402 "$key_b" > /dev/null || die "machine a cannot learn b's key"
echo "demo.sh: machines a and b know each other's keys"

if [ ! -x "$velloran" ]; then
  echo "demo.sh: $velloran not built yet; the machine folders are ready."
  exit 0
fi

# --- on a desktop: the two consoles ------------------------------------------------

has_desktop() {
  [ "${VL_HEADLESS:-}" != 1 ] && [ -n "${DISPLAY:-}" ] || return 1
  # DISPLAY may name a server that is gone (a closed ssh -X session).
  ! command -v xdpyinfo > /dev/null || xdpyinfo > /dev/null 2>&1
}

# start NAME: runs the program in the machine's folder (replacing this shell).
start() {
  echo "demo.sh: starting Velloran in $demo/$1 (control login: admin / secret)"
  cd "$demo/$1"
  if [ -n "${VL_DEMO_SCRIPTS:-}" ]; then
    export VL_SCRIPT="$VL_DEMO_SCRIPTS/$1.script" VL_SCRIPT_LOG="$VL_DEMO_SCRIPTS/$1.log"
  fi
  exec "$velloran"
}

if has_desktop; then
  (start b) &
  start a
fi

# --- without one: the mail carried end to end ---------------------------------------

[ -x "$vlpost" ] || die "vlpost not built ($vlpost missing)"
limit=${VL_DEMO_LIMIT:-150}
work=$(mktemp -d)
pids=()
stop_machines() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  pids=()
}
trap 'stop_machines; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

say() { echo "demo.sh: $*"; }
fail() {
  say "FAILED: $*" >&2
  stop_machines
  exit 1
}

# Another demo (or anything else) on the modems' ports would make both
# machines report "DCE not found" and carry nothing.
for port in "$port_a" "$port_b"; do
  if (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then
    fail "127.0.0.1:$port is taken (another demo running?); stop it, or use VL_DEMO_PORTS"
  fi
done

# make_account NAME ID KEY: an account that is there already is kept.
make_account() {
  local out
  if out=$("$vlpost" --account "$demo/$1" "$2" --key "$3" --control-key secret 2>&1); then
    say "account $2 made on machine $1"
  elif [[ $out == *exists* ]]; then
    say "account $2 already on machine $1"
  else
    fail "account $2 on machine $1: $out"
  fi
}
make_account a anna akey
make_account b bob bkey

# run_machine NAME: the program without windows; its log, shortened to the
# time of day and prefixed with the machine's name, goes to the terminal as
# it comes, and whole into demo/NAME.log.
run_machine() {
  (cd "$demo/$1" && exec env VL_HEADLESS=1 "$velloran") \
    > >(tee -a "$demo/$1.log" | sed -u -E "s/^[0-9]{4}-[0-9]{2}-[0-9]{2} ([0-9:]{8})\.[0-9]{3} /\1 /; s/^/[$1] /") 2>&1 &
  pids+=($!)
}
say "starting both machines without windows (logs also in $demo/a.log and b.log)"
run_machine b
run_machine a
started=$SECONDS

stamp=$(date +%H%M%S)
subject="Demo mail $stamp"
attachment="$work/demo-$stamp.bin"
{
  echo "A file that travels from machine 401 to machine 402 and must arrive unchanged."
  head -c 12000 /dev/urandom
} > "$attachment"
"$vlpost" --post "$demo/a" anna bob@402 "$subject" \
  "Dear Bob, this mail came from machine 401 by virtual modem." "$attachment" --key akey > /dev/null ||
  fail "vlpost could not post the mail"
say "anna@401 posted \"$subject\" to bob@402 with $(basename "$attachment") ($(stat -c %s "$attachment") bytes)"
"$vlpost" --call "$demo/a" > /dev/null || fail "vlpost could not ask machine a for a call"
say "machine a is asked for a call at its next tick (within 15 seconds)"

# Bob's mailbox, read the way vlpost reads it, until the mail is there.
inbox="$work/inbox"
while :; do
  sleep 2
  for pid in "${pids[@]}"; do kill -0 "$pid" 2> /dev/null || fail "a machine ended by itself (see $demo/a.log, b.log)"; done
  [ $((SECONDS - started)) -lt "$limit" ] || fail "no mail in bob's mailbox after $limit seconds"
  rm -rf "$inbox"
  listing=$("$vlpost" --read "$demo/b" bob "$inbox" --key bkey 2> /dev/null) || continue
  grep -qF "subject $subject" <<< "$listing" || continue
  break
done
took=$((SECONDS - started))
received=$(find "$inbox" -type f -name "$(basename "$attachment")" | head -1)
[ -n "$received" ] || fail "the mail arrived without its attachment"
cmp -s "$attachment" "$received" || fail "the attachment arrived changed"
stop_machines
echo
say "delivered: \"$subject\" from anna@401 to bob@402, $took seconds after the start"
say "attachment $(basename "$attachment"), $(stat -c %s "$received") bytes: attachment identical"
say "both machines stopped; their folders stay in $demo"
