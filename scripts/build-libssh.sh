#!/usr/bin/env bash
# Builds the one libssh that every target links, statically, from Debian's source packages with
# Debian's patches applied (they carry the security fixes):
#   build-libssh.sh TARGET      TARGET: linux | x86_64-w64-mingw32 | i686-w64-mingw32
#
#   linux      libssh with OpenSSL (Debian 12's libssl-dev) as the crypto backend.
#   *-mingw32  libgpg-error and libgcrypt from Debian 13, then libssh with libgcrypt. libssh 0.12's
#              gcrypt code needs libgcrypt's KEM interface (1.11 or later), which Debian 12's
#              MinGW libgcrypt (1.10) lacks.
#
# Sources: libssh from Debian testing (the newest 0.12.x) with our patches from scripts/patches/
# applied after Debian's, libgcrypt20 and libgpg-error from
# Debian 13 (trixie), fetched with `apt-get source --download-only PACKAGE/SUITE`; apt checks
# them against the signed Release files of the deb-src entries that scripts/setup.sh writes.
#
# Installs into build/libssh/TARGET (include/, lib/ and a VERSION file naming the exact package
# versions and build options). An install whose VERSION matches what this script would build is
# reused. Output goes to log files under build/libssh/work/; on failure the log's tail is
# printed.
#
# For measurements (bench/build-libssh-variant.sh):
#   TAVRIN_LIBSSH_READ_SIZE=N     libssh's socket read size (MAX_BUF_SIZE, see below)
#   TAVRIN_LIBSSH_INSTALL_DIR=D   install into D instead of build/libssh/TARGET
set -euo pipefail

target=${1:?usage: build-libssh.sh linux|x86_64-w64-mingw32|i686-w64-mingw32}
case "$target" in
  linux) ;;
  x86_64-w64-mingw32) processor=x86_64 ;;
  i686-w64-mingw32) processor=i686 ;;
  *) echo "build-libssh: unknown target $target" >&2; exit 2 ;;
esac

# Which suite serves each source package.
libssh_suite=testing
gcrypt_suite=trixie
# Bump when the build options below change, so that an older install is rebuilt.
options_revision=2

root=$(cd "$(dirname "$0")/.." && pwd)
top=$root/build/libssh
prefix=${TAVRIN_LIBSSH_INSTALL_DIR:-$top/$target}
sources=$top/sources
work=$top/work/$target${TAVRIN_LIBSSH_INSTALL_DIR:+-$(basename "$prefix")}
# MAX_BUF_SIZE: libssh reads the socket MAX_BUF_SIZE bytes per recv() (ssh_socket_pollcallback in
# src/socket.c; include/libssh/priv.h defaults it to 4096 under #ifndef). Under Wine each recv()
# costs a round trip through the wineserver, so the Windows build reads 64 KiB at a time (bulk
# output measured 8.7 -> 43.9 MB/s). Its only other users, the path expansions in misc.c and
# options.c, take it as their buffer size and length limit. The native build keeps 4096.
if [ "$target" = linux ]; then
  read_size=${TAVRIN_LIBSSH_READ_SIZE:-}
else
  read_size=${TAVRIN_LIBSSH_READ_SIZE:-65536}
fi
case "$read_size" in
  '' | [1-9][0-9][0-9][0-9]*) ;;
  *) echo "build-libssh: TAVRIN_LIBSSH_READ_SIZE must be 1000 or more" >&2; exit 2 ;;
esac
jobs=${TAVRIN_LIBSSH_JOBS:-2}
mkdir -p "$top"

say() { echo "build-libssh($target): $*"; }
fail() { echo "build-libssh($target): $*" >&2; exit 1; }
# logged, debian_version, unpacked (into $sources)
. "$(dirname "$0")/debian-sources.sh"

# Both Windows trees and the native one may be configured at the same time: one build at a time.
exec 9>"$top/.lock"
flock 9

libssh_version=$(debian_version libssh "$libssh_suite")
if [ "$target" != linux ]; then
  gcrypt_version=$(debian_version libgcrypt20 "$gcrypt_suite")
  gpgerror_version=$(debian_version libgpg-error "$gcrypt_suite")
fi

if [ -z "$libssh_version" ] || { [ "$target" != linux ] && { [ -z "$gcrypt_version" ] || [ -z "$gpgerror_version" ]; }; }; then
  if [ -f "$prefix/VERSION" ] && [ -f "$prefix/lib/libssh.a" ]; then
    say "apt does not list the sources (run scripts/setup.sh); reusing $prefix: $(head -n 1 "$prefix/VERSION")"
    exit 0
  fi
  fail "apt does not list libssh/$libssh_suite, libgcrypt20/$gcrypt_suite or libgpg-error/$gcrypt_suite source packages: run scripts/setup.sh"
fi
case "$libssh_version" in
  0.12.*) ;;
  *) fail "libssh/$libssh_suite is $libssh_version, not 0.12.x" ;;
esac

if [ "$target" = linux ]; then
  backend=openssl
  wanted="libssh $libssh_version openssl"
else
  backend=gcrypt
  wanted="libssh $libssh_version gcrypt
libgcrypt20 $gcrypt_version
libgpg-error $gpgerror_version"
fi
# Our own patches, applied after Debian's (scripts/patches/libssh-*.patch, in name order); their
# digest is part of what an install was built from.
patches=("$root"/scripts/patches/libssh-*.patch)
[ -e "${patches[0]}" ] || patches=()
patch_digest=$( { [ "${#patches[@]}" -eq 0 ] || cat "${patches[@]}"; } | sha256sum | cut -c1-16)
wanted="$wanted
options $options_revision${read_size:+ read-size $read_size}
patches $patch_digest"

if [ -f "$prefix/lib/libssh.a" ] && [ -f "$prefix/include/libssh/libssh.h" ] &&
   [ "$(cat "$prefix/VERSION" 2>/dev/null)" = "$wanted" ]; then
  say "reusing $prefix ($(head -n 1 "$prefix/VERSION"))"
  exit 0
fi


mkdir -p "$sources" "$(dirname "$prefix")"
rm -rf "$work" "$prefix.tmp"
mkdir -p "$work" "$prefix.tmp/include/libssh" "$prefix.tmp/lib"
started=$SECONDS

ssh_src=$(unpacked libssh "$libssh_suite" "$libssh_version")
# The unpacked tree is shared by the targets: patch it once, and unpack it again when the set of
# patches has changed since.
if [ "$(cat "$ssh_src/.tavrin-patches" 2>/dev/null)" != "$patch_digest" ]; then
  if [ -f "$ssh_src/.tavrin-patches" ]; then
    rm -rf "$ssh_src"
    ssh_src=$(unpacked libssh "$libssh_suite" "$libssh_version")
  fi
  for p in "${patches[@]}"; do
    logged "$work/patches.log" patch -p1 -N -d "$ssh_src" -i "$p"
  done
  echo "$patch_digest" >"$ssh_src/.tavrin-patches"
fi
grep -q "project(libssh VERSION ${libssh_version%%-*}" "$ssh_src/CMakeLists.txt" ||
  fail "unexpected source tree in $ssh_src"
if [ -n "$read_size" ] && ! grep -q '^#ifndef MAX_BUF_SIZE' "$ssh_src/include/libssh/priv.h"; then
  fail "MAX_BUF_SIZE can no longer be set from outside ($ssh_src/include/libssh/priv.h)"
fi

c_flags=${read_size:+-DMAX_BUF_SIZE=$read_size}
common_cmake=(
  -G "Unix Makefiles"
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF
  -DWITH_ZLIB=OFF -DWITH_GSSAPI=OFF -DWITH_SFTP=OFF -DWITH_PCAP=OFF
  -DWITH_SERVER=OFF -DWITH_EXAMPLES=OFF -DUNIT_TESTING=OFF -DCLIENT_TESTING=OFF
  -DWITH_NACL=OFF -DWITH_SYMBOL_VERSIONING=OFF -DWITH_MBEDTLS=OFF
  # No commands run from configuration files (ProxyCommand, Match exec): the component never
  # reads them, and the Windows build has none anyway.
  -DWITH_EXEC=OFF
  # Without the constructor and destructor attributes: a static libssh inside a DLL would
  # otherwise run ssh_init and ssh_finalize from DllMain, under the loader lock. Our code calls
  # both itself (ssh/library.cpp), on every target.
  -DHAVE_CONSTRUCTOR_ATTRIBUTE=0 -DHAVE_DESTRUCTOR_ATTRIBUTE=0
)

if [ "$target" = linux ]; then
  logged "$work/libssh-configure.log" cmake -S "$ssh_src" -B "$work/libssh" "${common_cmake[@]}" \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
    -DCMAKE_C_FLAGS="$c_flags" -DWITH_GCRYPT=OFF
else
  gpgerror_src=$(unpacked libgpg-error "$gcrypt_suite" "$gpgerror_version")
  gcrypt_src=$(unpacked libgcrypt20 "$gcrypt_suite" "$gcrypt_version")
  stage=$prefix.tmp
  autotools=(--host="$target" --prefix="$stage" --enable-static --disable-shared --disable-doc)

  # libgpg-error: only the library and its headers (no tests, translations or language files).
  mkdir -p "$work/libgpg-error"
  (
    cd "$work/libgpg-error"
    logged "$work/libgpg-error.log" "$gpgerror_src/configure" "${autotools[@]}" \
      --disable-tests --disable-nls --disable-languages
    logged "$work/libgpg-error.log" make -j "$jobs"
    logged "$work/libgpg-error.log" make install
  )
  # libgcrypt: the library and gcrypt.h; its test suite and the three tool programs are skipped.
  # -O3 rather than configure's -O2: the post-quantum key exchange's polynomial arithmetic
  # (cipher/sntrup761.c) is vectorised only at -O3. Measured under Wine (x86_64): key pair 52 ms
  # and decapsulation 18 ms at -O2, 11 ms and 12 ms at -O3 (i686: 67 and 22 ms, 35 and 14 ms);
  # the client pays both on every fresh login. libgcrypt's own Makefiles
  # still lower the optimisation of the one module that needs it (tiger.c).
  mkdir -p "$work/libgcrypt"
  (
    cd "$work/libgcrypt"
    logged "$work/libgcrypt.log" env CFLAGS="-O3" "$gcrypt_src/configure" "${autotools[@]}" \
      --with-libgpg-error-prefix="$stage"
    skip=(SUBDIRS="compat mpi cipher random src" bin_PROGRAMS=)
    logged "$work/libgcrypt.log" make -j "$jobs" "${skip[@]}"
    logged "$work/libgcrypt.log" make install "${skip[@]}"
  )
  grep -q "GCRY_KEM_SNTRUP761" "$stage/include/gcrypt.h" || fail "libgcrypt without the KEM interface"

  cat >"$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $processor)
set(CMAKE_C_COMPILER $target-gcc-posix)
set(CMAKE_CXX_COMPILER $target-g++-posix)
set(CMAKE_RC_COMPILER $target-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$target)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
  # The libgcrypt just built, named explicitly: the sysroot may hold an older one. libssh's CMake
  # does not add libgcrypt's include folder to its compile lines, hence -I.
  logged "$work/libssh-configure.log" cmake -S "$ssh_src" -B "$work/libssh" "${common_cmake[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_C_FLAGS="-I$stage/include $c_flags" \
    -DWITH_GCRYPT=ON \
    -DGCRYPT_INCLUDE_DIR="$stage/include" -DGCRYPT_ERROR_INCLUDE_DIR="$stage/include" \
    -DGCRYPT_LIBRARY="$stage/lib/libgcrypt.a" -DGCRYPT_ERROR_LIBRARY="$stage/lib/libgpg-error.a"
fi

config_h=$work/libssh/config.h
if grep -Eq '^#define HAVE_(CON|DE)STRUCTOR_ATTRIBUTE' "$config_h"; then
  fail "libssh would still run its constructor or destructor ($config_h)"
fi
logged "$work/libssh-build.log" cmake --build "$work/libssh" --target ssh -j "$jobs"

# Install by hand: the static library and the public headers (the install target wants pieces
# that this build leaves out).
cp "$(find "$work/libssh" -name libssh.a | head -n 1)" "$prefix.tmp/lib/libssh.a"
for h in libssh.h callbacks.h legacy.h ssh2.h sftp.h server.h libsshpp.hpp; do
  if [ -f "$ssh_src/include/libssh/$h" ]; then cp "$ssh_src/include/libssh/$h" "$prefix.tmp/include/libssh/"; fi
done
cp "$work/libssh/include/libssh/libssh_version.h" "$prefix.tmp/include/libssh/"
# Only what the project links: libraries, headers and the version record.
rm -rf "$prefix.tmp/bin" "$prefix.tmp/share" "$prefix.tmp/lib/pkgconfig" "$prefix.tmp/lib/"*.la
echo "$wanted" >"$prefix.tmp/VERSION"
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
say "installed $prefix: libssh $libssh_version/$backend in $((SECONDS - started)) s"
