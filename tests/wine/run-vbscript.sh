#!/usr/bin/env bash
# Runs a VBScript test against the registered DLL under Wine:
#   run-vbscript.sh [--env FILE] [--trace TEXT]... WINE_RUN LOADER PREFIX ARCH DLL SCRIPT [ARGS...]
# WINE_RUN is scripts/wine-run.sh. The DLL is registered for the run and unregistered after
# it, also when the script fails. The script must print "RESULT: PASS" and end with exit code
# 0: Wine's cscript may exit 0 after a script error, so the code alone proves nothing.
#   --env FILE    KEY=VALUE lines exported to the script's environment (the sshd fixture's)
#   --trace TEXT  the debug output (OutputDebugStringA) must hold a line that begins with TEXT
set -euo pipefail

env_file=
traces=()
while [ $# -gt 0 ]; do
  case "$1" in
    --env) env_file=$2; shift 2 ;;
    --trace) traces+=("$2"); shift 2 ;;
    *) break ;;
  esac
done
wine_run=$1 loader=$2 prefix=$3 arch=$4 dll=$5 script=$6
shift 6

if [ -n "$env_file" ]; then
  [ -f "$env_file" ] || { echo "run-vbscript: $env_file is missing (fixture not started?)"; exit 1; }
  # Values may hold blanks: each line is KEY=VALUE taken literally.
  while IFS= read -r line; do
    case "$line" in
      [A-Za-z_]*=*) export "${line%%=*}=${line#*=}" ;;
    esac
  done <"$env_file"
fi

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
wine() { bash "$wine_run" "$loader" "$prefix" "$arch" "$@"; }

dll_w=$(windows_path "$dll")
script_w=$(windows_path "$script")
out=$(mktemp)
err=$(mktemp)
cleanup() {
  WINEDEBUG=-all wine regsvr32 /s /u "$dll_w" || true
  rm -f "$out" "$err"
}
trap cleanup EXIT

WINEDEBUG=-all wine regsvr32 /s "$dll_w"
if [ ${#traces[@]} -gt 0 ]; then export WINEDEBUG=-all,warn+debugstr; fi
set +e
wine cscript //nologo "$script_w" "$@" >"$out" 2>"$err"
code=$?
set -e
tr -d '\r' <"$out"

status=0
if [ "$code" -ne 0 ]; then
  echo "run-vbscript: cscript exited with $code"
  status=1
elif ! tr -d '\r' <"$out" | grep -qx 'RESULT: PASS'; then
  echo "run-vbscript: no verdict from the script (a script error?)"
  status=1
fi
# Wine writes each OutputDebugStringA text as: warn:debugstr:OutputDebugStringA "TEXT"
for t in "${traces[@]}"; do
  if grep -qF "OutputDebugStringA \"$t" "$err"; then
    echo "trace found: $t"
  else
    echo "run-vbscript: no debug output beginning with \"$t\""
    status=1
  fi
done
if [ "$status" -ne 0 ]; then
  echo "--- standard error of cscript:"
  head -c 20000 "$err"
fi
exit "$status"
