#!/usr/bin/env bash
# Builds PCRE2's 16-bit library (UTF-16 code units, as the core's texts) statically for Windows,
# from Debian's source package with Debian's changes applied (they carry the security fixes):
#   build-pcre2.sh TARGET      TARGET: x86_64-w64-mingw32 | i686-w64-mingw32
#
# The native build uses Debian 12's own libpcre2-16 (package libpcre2-dev, found by pkg-config);
# only the Windows targets need this script.
#
# Options: 16-bit library only (no 8- or 32-bit, no pcre2grep, pcre2test or tests), Unicode on,
# JIT on (sljit supports x86 and x86-64 Windows), static only, -O2. Built with PCRE2's CMake
# and the project's toolchain files (cmake/mingw-w64-*.cmake).
#
# Installs into build/pcre2/TARGET (include/pcre2.h, lib/libpcre2-16.a and a VERSION file naming
# the package version and build options). An install whose VERSION matches what this script
# would build is reused. Output goes to log files under build/pcre2/work/; on failure the log's
# tail is printed.
set -euo pipefail

target=${1:?usage: build-pcre2.sh x86_64-w64-mingw32|i686-w64-mingw32}
case "$target" in
  x86_64-w64-mingw32) processor=x86_64 ;;
  i686-w64-mingw32) processor=i686 ;;
  linux) echo "build-pcre2: the native build uses Debian's libpcre2-dev (scripts/setup.sh)" >&2; exit 2 ;;
  *) echo "build-pcre2: unknown target $target" >&2; exit 2 ;;
esac

# Debian 13's pcre2, pinned: apt lists 10.46-1~deb13u3 as trixie's newest, but its .dsc and
# .diff.gz are not served (404); 10.46-1~deb13u2 is (upstream 10.46 with the security fixes
# backported from 10.48). Debian 12's 10.42-1+deb12u2 is not served either, and its 10.42-1 has
# none of those fixes. Raise the pin when a newer version is served.
pcre2_suite=trixie
pcre2_version=10.46-1~deb13u2
# Bump when the build options below change, so that an older install is rebuilt.
options="options 1: 16-bit unicode jit static -O2"

root=$(cd "$(dirname "$0")/.." && pwd)
top=$root/build/pcre2
prefix=$top/$target
sources=$top/sources
work=$top/work/$target
jobs=${TAVRIN_PCRE2_JOBS:-2}
mkdir -p "$top"

say() { echo "build-pcre2($target): $*"; }
fail() { echo "build-pcre2($target): $*" >&2; exit 1; }
# logged (and debian_version, unpacked, for packages fetched by suite)
. "$(dirname "$0")/debian-sources.sh"

# Both Windows trees may be configured at the same time: one build at a time.
exec 9>"$top/.lock"
flock 9

wanted="pcre2 $pcre2_version
$options"
if [ -f "$prefix/lib/libpcre2-16.a" ] && [ -f "$prefix/include/pcre2.h" ] &&
   [ "$(cat "$prefix/VERSION" 2>/dev/null)" = "$wanted" ]; then
  say "reusing $prefix (pcre2 $pcre2_version)"
  exit 0
fi

if ! grep -qx "Version: $pcre2_version" <<<"$(apt-cache showsrc pcre2 2>/dev/null)"; then
  fail "apt does not list the pcre2 $pcre2_version source package (pcre2/$pcre2_suite): run scripts/setup.sh"
fi

# Fetches and unpacks pcre2 at the pinned version into $sources (by version, not by suite: see
# the pin above); apt checks the files against the signed Release file.
src=$sources/pcre2-$pcre2_version
if [ ! -f "$src/.tavrin-unpacked" ]; then
  dl=$sources/download-pcre2
  rm -rf "$dl" "$src"
  mkdir -p "$dl"
  chown _apt "$dl" 2>/dev/null || true
  logged "$sources/fetch.log" bash -c "cd '$dl' && apt-get source --download-only 'pcre2=$pcre2_version'"
  dsc=$dl/pcre2_${pcre2_version}.dsc
  [ -f "$dsc" ] || fail "apt did not fetch $dsc"
  logged "$sources/fetch.log" dpkg-source --no-check -x "$dsc" "$src"
  rm -rf "$dl"
  touch "$src/.tavrin-unpacked"
fi
if ! grep -q "PCRE2_BUILD_PCRE2_16" "$src/CMakeLists.txt" || [ ! -f "$src/deps/sljit/sljit_src/sljitLir.c" ]; then
  fail "unexpected source tree in $src"
fi

rm -rf "$work" "$prefix.tmp"
mkdir -p "$work" "$prefix.tmp/include" "$prefix.tmp/lib"
started=$SECONDS

logged "$work/configure.log" cmake -S "$src" -B "$work/build" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$processor.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
  -DPCRE2_BUILD_PCRE2_8=OFF -DPCRE2_BUILD_PCRE2_16=ON -DPCRE2_BUILD_PCRE2_32=OFF \
  -DPCRE2_SUPPORT_UNICODE=ON -DPCRE2_SUPPORT_JIT=ON \
  -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF
config_h=$work/build/config.h
for feature in SUPPORT_PCRE2_16 SUPPORT_UNICODE SUPPORT_JIT; do
  grep -q "^#define $feature " "$config_h" || fail "$feature is off ($config_h)"
done
logged "$work/build.log" cmake --build "$work/build" --target pcre2-16-static -j "$jobs"

# Install by hand: the library and the one public header (the install target adds programs,
# manuals and package files that the project does not use).
cp "$work/build/libpcre2-16.a" "$prefix.tmp/lib/"
cp "$work/build/pcre2.h" "$prefix.tmp/include/"
echo "$wanted" >"$prefix.tmp/VERSION"
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
say "installed $prefix: pcre2 $pcre2_version in $((SECONDS - started)) s"
