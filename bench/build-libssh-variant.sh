#!/usr/bin/env bash
# Builds a variant of the static Windows 64-bit libssh for measurements: the same sources and
# options as scripts/build-libssh.sh (which does the work), with libssh's socket read size
# (MAX_BUF_SIZE: 4096 bytes upstream, 65536 in our Windows build) set to the given value.
# Installs into build/bench/libssh-read-SIZE and prints that directory; pass it to
# bench/run.sh --libssh-prefix.
#   bash bench/build-libssh-variant.sh [SIZE]      (default 4096, libssh's own size)
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-4096}
prefix=$PWD/build/bench/libssh-read-$size
TAVRIN_LIBSSH_READ_SIZE=$size TAVRIN_LIBSSH_INSTALL_DIR=$prefix \
  bash scripts/build-libssh.sh x86_64-w64-mingw32 >&2
echo "$prefix"
