#!/bin/bash
# The third-party libraries of the Windows build, cross-built for
# i686-w64-mingw32 from Debian's own sources and kept in the build tree:
#
#   tools/windows-deps.sh BUILD_DIR
#
# leaves static libsodium and liblzma (headers and .a) in BUILD_DIR/deps/prefix.
# zlib comes from Debian's libz-mingw-w64-dev and GoogleTest from
# /usr/src/googletest, so neither is built here. A library already in the
# prefix is not built again. `apt-get source` needs a deb-src entry: run as
# root, the script adds one beside Debian's own (debian-src.sources) when
# there is none. Needs dpkg-dev, autoconf, automake and libtool.
set -euo pipefail

build=$(realpath -m "${1:?usage: windows-deps.sh BUILD_DIR}")
deps="$build/deps"
prefix="$deps/prefix"
host=i686-w64-mingw32
mkdir -p "$deps/src" "$prefix"

# apt-get source unpacks into the current folder; as root it warns that the
# _apt user cannot write there, which is harmless.
fetch_source() {
  local package=$1 folder=$2
  if ! compgen -G "$deps/src/$folder-*/" >/dev/null; then
    (cd "$deps/src" && apt-get source -qq "$package" >"$deps/src/$package.log" 2>&1) ||
      { echo "windows-deps: apt-get source $package failed (see $deps/src/$package.log)" >&2; exit 1; }
  fi
  compgen -G "$deps/src/$folder-*/" | head -n 1
}

# A deb-src twin of Debian's own entries, once.
ensure_sources() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local list=/etc/apt/sources.list.d/debian.sources
  if [ "$(id -u)" != 0 ] || [ ! -f "$list" ]; then
    echo "windows-deps: apt has no deb-src entry for apt-get source; add one (see $list)" >&2
    exit 1
  fi
  echo "windows-deps: adding Debian's deb-src entries (/etc/apt/sources.list.d/debian-src.sources)"
  sed 's/^Types: deb$/Types: deb-src/' "$list" >/etc/apt/sources.list.d/debian-src.sources
  apt-get update -qq
}

build_sodium() {
  [ -f "$prefix/lib/libsodium.a" ] && return 0
  local src
  src=$(fetch_source libsodium libsodium)
  echo "windows-deps: libsodium from $src"
  (cd "$src" &&
    { [ -x configure ] || ./autogen.sh -s >/dev/null 2>&1; } &&
    ./configure -q --host=$host --prefix="$prefix" --disable-shared --enable-static \
      --disable-dependency-tracking CFLAGS="-O2" >/dev/null &&
    make -s -j2 >/dev/null 2>&1 && make -s install >/dev/null 2>&1)
}

build_lzma() {
  [ -f "$prefix/lib/liblzma.a" ] && return 0
  local src
  src=$(fetch_source xz-utils xz-utils)
  echo "windows-deps: liblzma from $src"
  cmake -S "$src" -B "$deps/xz-build" -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER=$host-gcc-posix -DCMAKE_RC_COMPILER=$host-windres \
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$deps/xz-build" -j2 --target liblzma >/dev/null
  cmake --install "$deps/xz-build" --component liblzma_Development >/dev/null 2>&1 ||
    cmake --install "$deps/xz-build" >/dev/null 2>&1 || true
  # The install rules name more than the library; what matters is these two.
  [ -f "$prefix/lib/liblzma.a" ] || cp "$deps/xz-build/liblzma.a" "$prefix/lib/"
  [ -f "$prefix/include/lzma.h" ] || cp -r "$src/src/liblzma/api/." "$prefix/include/"
}

if [ ! -f "$prefix/lib/libsodium.a" ] || [ ! -f "$prefix/lib/liblzma.a" ]; then ensure_sources; fi
build_sodium
build_lzma
test -f "$prefix/lib/libsodium.a" && test -f "$prefix/lib/liblzma.a"
