#!/usr/bin/env bash
# demo.sh BUILD_DIR -- makes two demo machines and opens their consoles.
#
# Machine "a" (MachID 401) lives in demo/a of the source tree, machine "b"
# (402) in demo/b; both have the control login admin / secret. Their modems
# are virtual modems on loopback: a takes calls on 127.0.0.1:7401 and its
# phone book reaches 402 on 127.0.0.1:7402, and b the other way round; both
# answer by themselves. The automatic courier is off, so the writer's Send
# carries a mail to the other machine at the next 15-second tick (with it on,
# mails go at the ECourier interval, 5 minutes at the least). The folders are
# made once with vlinit; later runs keep them as they are (accounts and mail
# included). Delete demo/ to start afresh. b's console is started in the
# background, then a's in the foreground.
#
# For scripted runs (the desktop tests):
#   VL_DEMO_ROOT     folder for a/ and b/ instead of demo/
#   VL_DEMO_PORTS    "PORT_A PORT_B" instead of "7401 7402"
#   VL_DEMO_SCRIPTS  folder with a.script and b.script, played by each
#                    machine's program (logs a.log and b.log beside them)
set -euo pipefail

die() { echo "demo.sh: $*" >&2; exit 1; }

[ $# -ge 1 ] || die "usage: bash tools/demo.sh BUILD_DIR"
[ -d "$1" ] || die "no build folder '$1' (build first: cmake -S . -B $1 && cmake --build $1)"
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
vlinit="$build/tools/vlinit"
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

if [ ! -x "$velloran" ]; then
  echo "demo.sh: $velloran not built yet; the machine folders are ready."
  exit 0
fi
# The consoles are windows: without a display there is nothing to open them on.
if [ -z "${DISPLAY:-}" ] && [ -z "${VL_HEADLESS:-}" ]; then
  cat >&2 <<EOF
demo.sh: the machines are ready in $demo, but no display is set (DISPLAY),
so their consoles cannot be opened. Run this again on a desktop, or:
  xvfb-run -a bash tools/demo.sh $1     consoles on a virtual X server (unseen)
  VL_HEADLESS=1 bash tools/demo.sh $1   both machines without windows; make
                                        accounts and post or read mail with
                                        $build/tools/vlpost
EOF
  exit 2
fi

# start NAME: runs the program in the machine's folder (replacing this shell).
start() {
  echo "demo.sh: starting Velloran in $demo/$1 (control login: admin / secret)"
  cd "$demo/$1"
  if [ -n "${VL_DEMO_SCRIPTS:-}" ]; then
    export VL_SCRIPT="$VL_DEMO_SCRIPTS/$1.script" VL_SCRIPT_LOG="$VL_DEMO_SCRIPTS/$1.log"
  fi
  exec "$velloran"
}
(start b) &
start a
