#!/usr/bin/env bash
# cmake --install into a fresh prefix: the program and its tools, the service
# unit, the three manual pages and the desktop entry with its icon are in
# place; each manual page renders without a warning; the unit starts the
# installed program without windows; the desktop entry names the installed
# program and icon.
#   install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install: $*" >&2; exit 1; }
cmake --install "$build" --prefix "$prefix" > "$prefix.log" 2>&1 || { cat "$prefix.log" >&2; rm -f "$prefix.log"; fail "cmake --install failed"; }
rm -f "$prefix.log"

for f in bin/velloran bin/vlinit bin/vlpost lib/systemd/system/velloran@.service \
         share/man/man1/velloran.1 share/man/man1/vlinit.1 share/man/man1/vlpost.1 \
         share/applications/velloran.desktop share/icons/hicolor/32x32/apps/velloran.png; do
  [ -s "$prefix/$f" ] || fail "$f not installed"
done

for page in velloran vlinit vlpost; do
  warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 > "$prefix/$page.txt") ||
    fail "man -l $page.1 failed: $warnings"
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  grep -q "^NAME" "$prefix/$page.txt" && grep -q "^SYNOPSIS" "$prefix/$page.txt" || fail "$page.1 renders without NAME or SYNOPSIS"
done

unit="$prefix/lib/systemd/system/velloran@.service"
grep -qx 'Environment=VL_HEADLESS=1' "$unit" || fail "the unit does not run the machine without windows"
grep -qx 'Restart=on-failure' "$unit" || fail "the unit does not restart a failed machine"
program=$(sed -n 's/^ExecStart=//p' "$unit")
[ -x "$prefix/bin/$program" ] || fail "the unit starts '$program', which is not installed"

entry="$prefix/share/applications/velloran.desktop"
grep -q '^Exec=.*exec velloran"$' "$entry" || fail "the desktop entry does not start velloran"
grep -qx 'Icon=velloran' "$entry" || fail "the desktop entry's icon is not the installed velloran.png"
head -c 8 "$prefix/share/icons/hicolor/32x32/apps/velloran.png" | cmp -s - <(printf '\211PNG\r\n\032\n') || fail "the icon is no PNG"
echo "install: program, tools, unit, manual pages and desktop entry in place"
