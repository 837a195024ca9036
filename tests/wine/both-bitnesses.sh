#!/usr/bin/env bash
# Both builds of the component registered side by side in one 64-bit Wine prefix, as on 64-bit
# Windows (the 64-bit DLL by regsvr32, the 32-bit one by SysWOW64's regsvr32), then each
# unregistered in turn: the other keeps working for its own script host, and once both are
# gone nothing of ours is left in either registry view.
#   tests/wine/both-bitnesses.sh DLL64 DLL32
# One line per check; the last line is "N passed, M failed"; exit code 0 only if none failed.
#   TAVRIN_KEEP_PREFIX=1   leave the prefix (build/both-bitnesses/prefix) for a look
set -uo pipefail
dll64=$(realpath "${1:?usage: both-bitnesses.sh DLL64 DLL32}")
dll32=$(realpath "${2:?usage: both-bitnesses.sh DLL64 DLL32}")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$root/build/both-bitnesses
started=$(date +%s)

# CLSID, LIBID, IID, PROGID, CLASSES; pass, fail, finish
. "$root/tests/installer/checks.sh"
readonly script=$root/tests/installer/create_object.vbs
readonly cscript32='C:\windows\syswow64\cscript.exe'
readonly regsvr32_32='C:\windows\syswow64\regsvr32.exe'
readonly reg32='C:\windows\syswow64\reg.exe'


export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 WINEPREFIX=$work/prefix
unset DISPLAY
wine() { timeout -k 5 120 /usr/lib/wine/wine64 "$@"; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
out=
run() {  # run PROGRAM [ARGS...]: output (without CRs) in $out, the exit code returned
  wine "$@" >"$work/out" 2>&1
  local rc=$?
  out=$(tr -d '\r' <"$work/out")
  return "$rc"
}

rm -rf "$WINEPREFIX"
mkdir -p "$work"
wine wineboot -i >/dev/null 2>&1
timeout -k 5 60 /usr/lib/wine/wineserver -w
cleanup() {
  timeout 30 /usr/lib/wine/wineserver -k 2>/dev/null
  [ "${TAVRIN_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# creates BITS yes|no: whether that bitness's script host creates the class and runs a check.
creates() {
  local bits=$1 want=$2 host=cscript arch=AMD64
  [ "$bits" = 32 ] && host=$cscript32 arch=x86
  run "$host" //nologo "$(windows_path "$script")"
  if ! grep -qx "ARCHITECTURE: $arch" <<<"$out"; then
    fail "$bits-bit host" "not a $arch script host: $(head -c 200 <<<"$out")"
  elif [ "$want" = yes ] && grep -qx 'VERDICT: PASS' <<<"$out"; then
    pass "$bits-bit host creates the class and runs a check"
  elif [ "$want" = no ] && grep -q 'VERDICT: FAIL: CreateObject' <<<"$out"; then
    pass "$bits-bit host no longer finds the class"
  else
    fail "$bits-bit host: expected $want" "$(grep -m1 VERDICT <<<"$out" || head -c 200 <<<"$out")"
  fi
}

registers() {  # registers BITS [/u]
  local bits=$1 undo=${2:-} exe=regsvr32 dll=$dll64 what=registers
  [ "$bits" = 32 ] && exe=$regsvr32_32 dll=$dll32
  [ -n "$undo" ] && what=unregisters
  if run "$exe" /s $undo "$(windows_path "$dll")"; then pass "regsvr32 $what the $bits-bit DLL"
  else fail "regsvr32 $what the $bits-bit DLL" "exit code $?: $(head -c 200 <<<"$out")"; fi
}

nothing_left() {  # nothing_left VIEW: none of our keys in that view
  local view=$1 key left=
  for key in "$CLASSES\\CLSID\\$CLSID" "$CLASSES\\$PROGID" "$CLASSES\\Interface\\$IID" \
             "$CLASSES\\TypeLib\\$LIBID"; do
    if [ "$view" = 64 ]; then run reg query "$key" /reg:64; else run "$reg32" query "$key"; fi
    grep -qi 'unable to find' <<<"$out" || left="$left $key"
  done
  if [ -z "$left" ]; then pass "nothing of ours left in the $view-bit view"
  else fail "nothing of ours left in the $view-bit view" "still there:$left"; fi
}

registers 64
registers 32
creates 64 yes
creates 32 yes

registers 32 /u
creates 64 yes
creates 32 no

registers 32
registers 64 /u
creates 32 yes
creates 64 no

registers 32 /u
creates 32 no
nothing_left 64
nothing_left 32

finish "both bitnesses"
