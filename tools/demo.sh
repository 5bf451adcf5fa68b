#!/usr/bin/env bash
# demo.sh BUILD_DIR -- makes a demo machine and starts the program in it.
#
# Machine "a" (MachID 401, control login admin / secret) lives in demo/a of
# the source tree. Its configuration is made once with vlinit; later runs
# keep the folder as it is (accounts and mail included). Delete demo/ to
# start afresh.
set -euo pipefail

die() { echo "demo.sh: $*" >&2; exit 1; }

[ $# -ge 1 ] || die "usage: bash tools/demo.sh BUILD_DIR"
[ -d "$1" ] || die "no build folder '$1' (build first: cmake -S . -B $1 && cmake --build $1)"
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
vlinit="$build/tools/vlinit"
velloran="$build/velloran"
[ -x "$vlinit" ] || die "vlinit not built ($vlinit missing)"

machine="$root/demo/a"
if [ -f "$machine/VL.INI" ] && [ -f "$machine/Velloran.INI" ]; then
  echo "demo.sh: machine a already set up in $machine"
else
  echo "demo.sh: setting up machine a in $machine"
  "$vlinit" "$machine" --force --machid 401 --owner "Demo machine A" \
    --control-id admin --control-key secret \
    --virtual-modem 127.0.0.1:7401 --phonebook 402=127.0.0.1:7402
fi

# ---- second machine: b talks to a through virtual modems on loopback -------
# Machine "b" (MachID 402, same control login) lives in demo/b. Its modem takes
# calls on 127.0.0.1:7402 and reaches a (401) on 127.0.0.1:7401, as a's phone
# book reaches b; both modems answer by themselves. A mail from an account of
# a to id@402 is carried over the line at a's next courier pass, and the other
# way round. b's console is started in the background before a's.
machine_b="$root/demo/b"
if [ -f "$machine_b/VL.INI" ] && [ -f "$machine_b/Velloran.INI" ]; then
  echo "demo.sh: machine b already set up in $machine_b"
else
  echo "demo.sh: setting up machine b in $machine_b"
  "$vlinit" "$machine_b" --force --machid 402 --owner "Demo machine B" \
    --control-id admin --control-key secret \
    --virtual-modem 127.0.0.1:7402 --phonebook 401=127.0.0.1:7401
fi
if [ -x "$velloran" ]; then
  echo "demo.sh: starting Velloran in $machine_b (control login: admin / secret)"
  (cd "$machine_b" && exec "$velloran") &
fi
# ---- end of the second machine ---------------------------------------------

if [ ! -x "$velloran" ]; then
  echo "demo.sh: $velloran not built yet; the machine folder is ready."
  exit 0
fi
echo "demo.sh: starting Velloran in $machine (control login: admin / secret)"
cd "$machine"
exec "$velloran"
