#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own, creating the prefix on first use.
#   wine-run.sh LOADER PREFIX ARCH PROGRAM [ARGS...]
# ARCH is x86_64 or i686 (a 32-bit prefix for the latter). The program's exit code is returned.
set -euo pipefail
loader=$1 prefix=$2 arch=$3
shift 3
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ "$arch" = i686 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.tavrin-ready" ]; then
    "$loader" wineboot -i >/dev/null 2>&1 || true
    "$(dirname "$(command -v wine)")/wineserver" -w 2>/dev/null || wineserver -w 2>/dev/null || true
    touch "$prefix/.tavrin-ready"
  fi
) 9>"$prefix.lock"
exec "$loader" "$@"
