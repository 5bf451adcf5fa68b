#!/bin/bash
# Runs the Windows build's tests under Wine through CTest:
#
#   tools/windows-test.sh BUILD_DIR [ctest arguments...]
#
# As root the tests run as the unprivileged uid 65534 (Wine run as root
# ignores the read-only attribute, which the tests rely on), with a HOME and
# a Wine prefix of their own in BUILD_DIR/wine, made once and kept. The
# prefix uses the null graphics driver, so no display is needed.
set -euo pipefail

build=$(realpath "${1:?usage: windows-test.sh BUILD_DIR [ctest arguments]}")
shift
home="$build/wine"
export HOME="$home" WINEPREFIX="$home/prefix" WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko installer at the first start, and no debugger that would
# wait forever beside a program that crashed: it ends, and the test fails.
export WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe="
mkdir -p "$home" "$build/Testing/Temporary"

as_tester() {
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all env HOME="$HOME" "$@"
  else
    "$@"
  fi
}

if [ "$(id -u)" = 0 ]; then
  chown -R 65534:65534 "$home"
  chmod -R a+rwX "$build/Testing"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "windows-test: making the Wine prefix $WINEPREFIX"
  as_tester wineboot -i >/dev/null 2>&1
  as_tester wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  as_tester wineserver -k || true
fi
status=0
as_tester ctest --test-dir "$build" --output-on-failure "$@" || status=$?
as_tester wineserver -k >/dev/null 2>&1 || true
exit $status
