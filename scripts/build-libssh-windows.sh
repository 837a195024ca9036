#!/usr/bin/env bash
# Builds a static libssh for one Windows target from Debian's libssh source package, with
# Debian's patches applied (they carry the security fixes) and libgcrypt as the crypto backend.
#   build-libssh-windows.sh TRIPLE        TRIPLE: x86_64-w64-mingw32 or i686-w64-mingw32
# Installs into build/libssh/TRIPLE under the source tree; an install that is already there is
# reused. Needs: a deb-src entry, dpkg-dev, cmake, the MinGW-w64 posix compilers and
# libgcrypt-mingw-w64-dev (scripts/setup.sh installs all of them).
set -euo pipefail

triple=${1:?usage: build-libssh-windows.sh x86_64-w64-mingw32|i686-w64-mingw32}
case "$triple" in
  x86_64-w64-mingw32) processor=x86_64 ;;
  i686-w64-mingw32) processor=i686 ;;
  *) echo "build-libssh-windows: unknown target $triple" >&2; exit 2 ;;
esac

# The version we build. u3 is listed in the archive but its files are not always served;
# u2's patches already carry the 2025 fixes. Fall back to whatever version apt offers.
wanted_version=0.10.6-0+deb12u2
upstream_version=0.10.6

root=$(cd "$(dirname "$0")/.." && pwd)
top=$root/build/libssh
prefix=$top/$triple
mkdir -p "$top"

# Both Windows trees may be configured at the same time: one build at a time.
exec 9>"$top/.lock"
flock 9

# Bump when the options below change, so that an older install is rebuilt.
build_id="libssh-$wanted_version-gcrypt-static-noctor-1"
if [ -f "$prefix/lib/libssh.a" ] && [ -f "$prefix/include/libssh/libssh.h" ] &&
   [ "$(cat "$prefix/.tavrin-build-id" 2>/dev/null)" = "$build_id" ]; then
  echo "build-libssh-windows: reusing $prefix"
  exit 0
fi

src=$top/src
if [ ! -f "$src/.tavrin-unpacked" ]; then
  dl=$top/download
  rm -rf "$dl" "$src"
  mkdir -p "$dl"
  (
    cd "$dl"
    if ! apt-get source --download-only "libssh=$wanted_version" >/dev/null 2>&1; then
      echo "build-libssh-windows: libssh $wanted_version not available, taking apt's current source" >&2
      rm -f ./*
      apt-get source --download-only libssh
    fi
  )
  dsc=$(ls "$dl"/libssh_*.dsc | head -n 1)
  # dpkg-source unpacks the upstream tarball and applies debian/patches (quilt series).
  dpkg-source --no-check -x "$dsc" "$src"
  if [ ! -f "$src/CMakeLists.txt" ] || ! grep -q "$upstream_version" "$src/CMakeLists.txt"; then
    echo "build-libssh-windows: unexpected source tree in $src" >&2
    exit 1
  fi
  touch "$src/.tavrin-unpacked"
fi

work=$top/build-$triple
rm -rf "$work"
mkdir -p "$work"
cat >"$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $processor)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# Without the constructor and destructor attributes: a static libssh inside a DLL would
# otherwise run ssh_init and ssh_finalize from DllMain, under the loader lock. The component
# calls both itself.
cmake -S "$src" -B "$work" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF \
  -DWITH_GCRYPT=ON -DWITH_MBEDTLS=OFF \
  -DWITH_ZLIB=OFF -DWITH_GSSAPI=OFF -DWITH_SFTP=OFF -DWITH_PCAP=OFF \
  -DWITH_SERVER=OFF -DWITH_EXAMPLES=OFF -DUNIT_TESTING=OFF -DCLIENT_TESTING=OFF \
  -DWITH_NACL=OFF -DWITH_SYMBOL_VERSIONING=OFF \
  -DHAVE_CONSTRUCTOR_ATTRIBUTE=0 -DHAVE_DESTRUCTOR_ATTRIBUTE=0 >"$work/configure.log" 2>&1 ||
  { tail -n 40 "$work/configure.log" >&2; exit 1; }
cmake --build "$work" --target ssh -j 2 >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; exit 1; }

# Install by hand: the static library and the public headers (the install target wants the
# shared pieces that this build leaves out).
rm -rf "$prefix.tmp"
mkdir -p "$prefix.tmp/lib" "$prefix.tmp/include/libssh"
lib=$(find "$work" -name libssh.a | head -n 1)
cp "$lib" "$prefix.tmp/lib/libssh.a"
cp "$src"/include/libssh/{libssh.h,callbacks.h,legacy.h,ssh2.h,sftp.h,server.h,libsshpp.hpp} \
  "$prefix.tmp/include/libssh/" 2>/dev/null || true
cp "$work/include/libssh/libssh_version.h" "$prefix.tmp/include/libssh/"
test -f "$prefix.tmp/include/libssh/libssh.h"
echo "$build_id" >"$prefix.tmp/.tavrin-build-id"
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
echo "build-libssh-windows: installed $prefix"
