#!/usr/bin/env bash
# Builds a variant of the static Windows 64-bit libssh for measurements: the same source and
# options as scripts/build-libssh-windows.sh, with libssh's socket read size (MAX_BUF_SIZE,
# 4096 bytes upstream) set to the given value. Installs into build/bench/libssh-read-SIZE and
# prints that directory; pass it to bench/run.sh --libssh-prefix.
#   bash bench/build-libssh-variant.sh [SIZE]      (default 65536)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
size=${1:-65536}
triple=x86_64-w64-mingw32
src=$root/build/libssh/src
# The regular build unpacks Debian's source (with its patches) first.
[ -f "$src/.tavrin-unpacked" ] || bash scripts/build-libssh-windows.sh "$triple" >&2
grep -q '^#ifndef MAX_BUF_SIZE' "$src/include/libssh/priv.h" ||
  { echo "build-libssh-variant: MAX_BUF_SIZE cannot be set from outside in this source" >&2; exit 1; }

prefix=$root/build/bench/libssh-read-$size
work=$prefix.build
if [ ! -f "$prefix/lib/libssh.a" ]; then
  rm -rf "$work" "$prefix"
  mkdir -p "$work"
  cat >"$work/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN
  cmake -S "$src" -B "$work" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="-DMAX_BUF_SIZE=$size" -DBUILD_SHARED_LIBS=OFF \
    -DWITH_GCRYPT=ON -DWITH_MBEDTLS=OFF -DWITH_ZLIB=OFF -DWITH_GSSAPI=OFF -DWITH_SFTP=OFF -DWITH_PCAP=OFF \
    -DWITH_SERVER=OFF -DWITH_EXAMPLES=OFF -DUNIT_TESTING=OFF -DCLIENT_TESTING=OFF -DWITH_NACL=OFF \
    -DWITH_SYMBOL_VERSIONING=OFF -DHAVE_CONSTRUCTOR_ATTRIBUTE=0 -DHAVE_DESTRUCTOR_ATTRIBUTE=0 \
    >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log" >&2; exit 1; }
  cmake --build "$work" --target ssh -j 2 >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; exit 1; }
  mkdir -p "$prefix/lib" "$prefix/include/libssh"
  cp "$(find "$work" -name libssh.a | head -n 1)" "$prefix/lib/libssh.a"
  cp "$src"/include/libssh/{libssh.h,callbacks.h,legacy.h,ssh2.h,sftp.h,server.h} "$prefix/include/libssh/"
  cp "$work/include/libssh/libssh_version.h" "$prefix/include/libssh/"
fi
echo "$prefix"
