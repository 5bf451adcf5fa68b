#!/bin/bash
# The link benchmark from both builds, side by side on the same virtual clock:
#
#   bench/link/windows.sh LINUX_BUILD WINDOWS_BUILD
#
# Runs bench_link --no-zmodem from the Linux build and bench_link.exe under
# Wine from the Windows build (in the Wine prefix tools/windows-test.sh made;
# as root, as its owner uid 65534), prints both tables and, per row, the
# stream seconds of each and how far the Windows build is from the Linux one.
set -euo pipefail

linux=$(realpath "${1:?usage: windows.sh LINUX_BUILD WINDOWS_BUILD}")
windows=$(realpath "${2:?usage: windows.sh LINUX_BUILD WINDOWS_BUILD}")
export WINEPREFIX="$windows/wine/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe="
[ -f "$WINEPREFIX/system.reg" ] || { echo "windows.sh: no Wine prefix yet (run tools/windows-test.sh first)" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$windows/wine" TMP=/tmp TEMP=/tmp "$@"
  else
    "$@"
  fi
}

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "== Linux: $linux/bench/link/bench_link"
"$linux/bench/link/bench_link" --no-zmodem | tee "$out/linux"
echo "== Windows under Wine: $windows/bin/bench_link.exe"
as_owner wine "$windows/bin/bench_link.exe" --no-zmodem | tr -d '\r' | tee "$out/windows"
as_owner wineserver -k >/dev/null 2>&1 || true

echo "== stream seconds, Linux against Windows"
awk 'FNR == 1 { file++ }
     $2 == "yes" || $2 == "NO" { s[file, $1] = $5; if (file == 1) rows[++n] = $1 }
     END {
       worst = 0
       for (i = 1; i <= n; i++) {
         r = rows[i]; l = s[1, r]; w = s[2, r]
         d = (l > 0 && w != "") ? 100 * (w - l) / l : 0
         if (d < 0 ? -d > worst : d > worst) worst = d < 0 ? -d : d
         printf "%-10s %10s %10s %+7.2f %%\n", r, l, w, d
       }
       printf "largest difference %.2f %%\n", worst
     }' "$out/linux" "$out/windows"
