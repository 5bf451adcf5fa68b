#!/bin/bash
# Two machines on virtual modems over loopback carry a mail with an
# attachment each way, with at least one of them the Windows build under Wine:
#
#   tests/windows/pair.sh LINUX_BUILD WINDOWS_BUILD wine-wine|linux-wine plain|keys
#
# Machine a (401) always runs Velloran.exe under Wine; machine b (402) runs
# Velloran.exe too (wine-wine) or the Linux program (linux-wine). "plain"
# makes b speak only the plain line protocol; "keys" lets both speak the
# extended one and tells each the other's key, so the call is sealed.
# wine-wine makes and reads the folders with vlinit.exe and vlpost.exe under
# Wine; linux-wine with the Linux vlinit and vlpost, so the Windows program
# works on folders the Linux tools wrote, and the other way round. Exit code
# 0 when both mails arrived whole, 77 (skipped) when linux-wine finds no
# Linux build. As root, everything runs as uid 65534 (Wine as root ignores
# the read-only attribute). Only this script's own machines are stopped at
# the end: other tests share the Wine prefix and its server.
set -euo pipefail

linux=$(realpath -m "${1:?usage: pair.sh LINUX_BUILD WINDOWS_BUILD wine-wine|linux-wine plain|keys}")
windows=$(realpath "${2:?}")
mode=${3:?}
line=${4:?}
limit=${VL_PAIR_LIMIT:-120}
export WINEPREFIX="$windows/wine/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe="
[ -f "$WINEPREFIX/system.reg" ] || { echo "pair.sh: no Wine prefix yet (run tools/windows-test.sh first)" >&2; exit 1; }

as_tester() {
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$windows/wine" "$@"
  else
    "$@"
  fi
}

# The same, replacing the shell (a machine's pid is then its program's own).
exec_as_tester() {
  if [ "$(id -u)" = 0 ]; then
    exec setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$windows/wine" "$@"
  else
    exec "$@"
  fi
}

work=$(mktemp -d)
[ "$(id -u)" = 0 ] && chown 65534:65534 "$work"
pids=()
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap 'stop; rm -rf "$work"' EXIT
say() { echo "pair.sh: $*"; }
fail() { say "FAILED: $*" >&2; tail -n 15 "$work"/*.log >&2 || true; exit 1; }

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null || echo $((20000 + RANDOM % 20000)); }
port_a=$(free_port)
port_b=$(free_port)

if [ "$mode" = linux-wine ] && [ ! -x "$linux/velloran" ]; then
  echo "pair.sh: no Linux build in $linux (build it first): skipped"
  exit 77
fi
# The set-up tools of the build under test; Windows ones end lines with CR LF.
vlinit() {
  if [ "$mode" = wine-wine ]; then as_tester wine "$windows/bin/vlinit.exe" "$@" | tr -d '\r'
  else as_tester "$linux/tools/vlinit" "$@"; fi
}
vlpost() {
  if [ "$mode" = wine-wine ]; then as_tester wine "$windows/bin/vlpost.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"
  else as_tester "$linux/tools/vlpost" "$@"; fi
}
protocol_b=1
[ "$line" = plain ] && protocol_b=0
vlinit "$work/a" --machid 401 --control-id admin --control-key secret --ecourier 0 \
  --virtual-modem "127.0.0.1:$port_a" --phonebook "402=127.0.0.1:$port_b" >/dev/null
vlinit "$work/b" --machid 402 --control-id admin --control-key secret --ecourier 0 \
  --line-protocol "$protocol_b" --virtual-modem "127.0.0.1:$port_b" --phonebook "401=127.0.0.1:$port_a" >/dev/null
if [ "$line" = keys ]; then
  vlinit "$work/b" --add-peer 401 "$(vlinit "$work/a" --show-key)" >/dev/null
  vlinit "$work/a" --add-peer 402 "$(vlinit "$work/b" --show-key)" >/dev/null
fi
vlpost --account "$work/a" anna --key akey --control-key secret >/dev/null
vlpost --account "$work/b" bob --key bkey --control-key secret >/dev/null

run_machine() {  # NAME wine|linux
  if [ "$2" = wine ]; then
    (cd "$work/$1" && exec_as_tester env VL_HEADLESS=1 wine "$windows/bin/Velloran.exe") >"$work/$1.log" 2>&1 &
  else
    (cd "$work/$1" && exec_as_tester env VL_HEADLESS=1 "$linux/velloran") >"$work/$1.log" 2>&1 &
  fi
  pids+=($!)
}
run_machine a wine
run_machine b "$([ "$mode" = wine-wine ] && echo wine || echo linux)"
say "machine a (401) under Wine, machine b (402) $([ "$mode" = wine-wine ] && echo under Wine || echo on Linux), line: $line"

# carry FROM FROMID TO TOID TOMACHINE: a mail with an attachment, asked for at
# once, read back from the recipient's mailbox and compared byte for byte.
carry() {
  local from=$1 fromId=$2 to=$3 toId=$4 toMachine=$5
  local fromKey=${fromId:0:1}key toKey=${toId:0:1}key
  local subject="Pair mail $from to $to $RANDOM" attachment="$work/$from-to-$to.bin" inbox="$work/inbox-$to"
  { echo "from $from to $to"; head -c 20000 /dev/urandom; } >"$attachment"
  [ "$(id -u)" = 0 ] && chown 65534:65534 "$attachment"
  vlpost --post "$work/$from" "$fromId" "$toId@$toMachine" "$subject" "Hello from $from." "$attachment" \
    --key "$fromKey" >/dev/null || fail "vlpost could not post on $from"
  vlpost --call "$work/$from" >/dev/null
  local started=$SECONDS
  while :; do
    sleep 2
    [ $((SECONDS - started)) -lt "$limit" ] || fail "no mail from $from in $toId's mailbox after $limit seconds"
    rm -rf "$inbox"
    listing=$(vlpost --read "$work/$to" "$toId" "$inbox" --key "$toKey" 2>/dev/null) || continue
    grep -qF "subject $subject" <<<"$listing" && break
  done
  received=$(find "$inbox" -type f -name "$(basename "$attachment")" | head -1)
  [ -n "$received" ] && cmp -s "$attachment" "$received" || fail "the attachment from $from arrived changed or not at all"
  say "$fromId@$from -> $toId@$toMachine: mail and $(stat -c %s "$received")-byte attachment identical, $((SECONDS - started)) s"
}
carry a anna b bob 402
carry b bob a anna 401
grep -hE 'status .*(Verified|Bytes|key|sealed|plain|extended)' "$work"/a.log "$work"/b.log | head -n 6 | sed 's/^/pair.sh: log: /'
stop
say "both mails arrived whole"
