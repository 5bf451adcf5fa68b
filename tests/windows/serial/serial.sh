#!/bin/bash
# Gives the Wine prefix two COM ports joined by a pseudo-terminal pair (socat)
# and runs the serial test program through them: COM8 and COM9 are the
# symlinks com8 and com9 in $WINEPREFIX/dosdevices.
#   serial.sh TEST_PROGRAM
set -euo pipefail
program=${1:?usage: serial.sh TEST_PROGRAM}
: "${WINEPREFIX:?the Wine prefix (tools/windows-test.sh sets it)}"
work=$(mktemp -d)
socat pty,raw,echo=0,link="$work/ttyA" pty,raw,echo=0,link="$work/ttyB" &
pair=$!
trap 'kill $pair 2>/dev/null; rm -f "$WINEPREFIX/dosdevices/com8" "$WINEPREFIX/dosdevices/com9"; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "$work/ttyA" ] && [ -e "$work/ttyB" ] && break; sleep 0.1; done
ln -sfn "$work/ttyA" "$WINEPREFIX/dosdevices/com8"
ln -sfn "$work/ttyB" "$WINEPREFIX/dosdevices/com9"
wine "$program" "${@:2}"
