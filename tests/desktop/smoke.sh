#!/usr/bin/env bash
# Desktop smoke test: runs the real program on a fresh demo machine under the
# virtual X server that CTest starts (xvfb-run), drives it with a VL_SCRIPT,
# and photographs each window when the script says it is ready. Each picture
# must show the window at its computed place and size, and must not be blank;
# a message box with a long caption must show it whole, and the console its
# etched edge.
# The pictures stay in OUTDIR for a person to look at.
#   smoke.sh VELLORAN VLINIT VLPOST OUTDIR
set -euo pipefail
velloran=$1 vlinit=$2 vlpost=$3 out=$4
mkdir -p "$out"
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "desktop smoke: $*" >&2; exit 1; }

# Machine 401 with two accounts; anna has posted bob a mail, which local
# delivery hands to bob's mailbox at its first 30-second turn.
"$vlinit" "$work/m" --machid 401 --owner "Smoke test machine" --control-id admin --control-key secret \
  --virtual-modem 127.0.0.1:0 > /dev/null
"$vlpost" --account "$work/m" anna --key akey --control-key secret
"$vlpost" --account "$work/m" bob --key bkey --control-key secret
"$vlpost" --post "$work/m" anna bob@401 "Desktop smoke test" \
  "Dear Bob, this mail was posted before the program started." --key akey > /dev/null

source "$(dirname "${BASH_SOURCE[0]}")/steps.sh"

# The console, the About box, the Setting dialog of control mode, bob's
# mailbox once the mail is in, the mail in the reader, the writer with a
# reply being written, its Open chooser (cancelled), and the question and
# the information box that a Send without a subject brings.
{
  cat <<'SCRIPT'
wait Velloran
sleep 500
snap console Velloran
click Velloran 2020
wait "Velloran :: About"
sleep 500
snap about "Velloran :: About"
mouseup "Velloran :: About" 20 20
gone "Velloran :: About"
text Velloran 2023 "All local mails delivered*"
SCRIPT
  control_login
  cat <<'SCRIPT'
click "Velloran :: Control" 2018
wait "Velloran :: Setting"
sleep 500
snap setting "Velloran :: Setting"
click "Velloran :: Setting" 5035
answer "Velloran :: Setting" 7
gone "Velloran :: Setting"
SCRIPT
  control_logout
  log_in bob bkey
  cat <<'SCRIPT'
select "Velloran :: Login :: bob" 6002 0
sleep 500
snap mailbox "Velloran :: Login :: bob"
select "Velloran :: Login :: bob" 6002 0 double
wait "Velloran :: Reader*"
sleep 500
snap reader "Velloran :: Reader*"
click "Velloran :: Reader*" 7013
wait "Velloran :: Writer*"
type "Velloran :: Writer*" 3010 "Dear Anna, your mail has arrived on the desktop."
sleep 500
snap writer "Velloran :: Writer*"
click "Velloran :: Writer*" 3012
snapbox chooser "*"
answer "*" 0
type "Velloran :: Writer*" 3006 ""
click "Velloran :: Writer*" 3014
snapbox question "Velloran :: Writer*"
answer "Velloran :: Writer*" 6
snapbox information "Velloran :: Writer*"
answer "Velloran :: Writer*" 1
click "Velloran :: Writer*" 3015
gone "Velloran :: Writer*"
click "Velloran :: Login :: bob" 6005
gone "Velloran :: Login :: bob"
SCRIPT
  close_program
} > "$work/script"

source "$(dirname "${BASH_SOURCE[0]}")/watch.sh"

# Expected rectangles on a 1280 x 1024 screen: the console is 900 x 200,
# centred horizontally and 220 pixels above the vertical centre. Every other
# window is checked against the place the dialog manager computed for it.
declare -A want=([console]="190 192 900 200")

# run_program FOLDER SCRIPT LOG: plays the script in the machine folder,
# photographs what it announces, and wants the program to end with 0 (the
# last step answers the close question with Yes).
run_program() {
  (cd "$1" && VL_SCRIPT="$2" VL_SCRIPT_LOG="$3" exec "$velloran") &
  pid=$!
  local deadline=$((SECONDS + 150)) code=0
  while :; do
    [ $SECONDS -lt $deadline ] || fail "timed out"
    if ! kill -0 "$pid" 2>/dev/null; then
      grep -qs '^end$' "$3" || fail "the program ended early"
      break
    fi
    look_at_log "$3"
    sleep 0.2
  done
  wait "$pid" || code=$?
  pid=""
  [ "$code" -eq 0 ] || fail "the program ended with $code"
}
run_program "$work/m" "$work/script" "$work/log"

# A box whose caption is much longer than its text: a machine whose Signal
# setting selects no communication path reports "DCE not found on this com
# port" over its port number at start-up. The caption must show whole.
"$vlinit" "$work/n" --machid 402 --control-id admin --control-key secret --signal 2 > /dev/null
{
  echo 'snapbox dce "DCE not found on this com port"'
  echo 'answer "DCE not found on this com port" 1'
  echo 'wait Velloran'
  close_program
} > "$work/dce.script"
run_program "$work/n" "$work/dce.script" "$work/dce.log"
check_pictures console about setting mailbox reader writer chooser question information dce
caption_whole dce
etched_edge console
echo "desktop smoke: passed"
