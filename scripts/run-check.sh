#!/usr/bin/env bash
# The main job: starts a throwaway sshd on 127.0.0.1 with a generated account and runs a few
# checks against it, through tavrin-check and through comTavrin.dll registered in a Wine prefix
# and driven from VBScript, printing each result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/run-check
mkdir -p "$work"

bash scripts/setup.sh >/dev/null
echo "run-check: building (Linux and Windows 64-bit)"
cmake --preset linux >"$work/configure-linux.log" 2>&1 || { tail -n 30 "$work/configure-linux.log"; exit 1; }
cmake --build --preset linux -j 2 --target tavrin-check >"$work/build-linux.log" 2>&1 || { tail -n 30 "$work/build-linux.log"; exit 1; }
cmake --preset win64 >"$work/configure-win64.log" 2>&1 || { tail -n 30 "$work/configure-win64.log"; exit 1; }
cmake --build --preset win64 -j 2 --target comTavrin >"$work/build-win64.log" 2>&1 || { tail -n 30 "$work/build-win64.log"; exit 1; }

fixture=$work/sshd
bash tests/fixtures/sshd-fixture.sh start "$fixture" >/dev/null
trap 'bash tests/fixtures/sshd-fixture.sh stop "$fixture" >/dev/null 2>&1 || true' EXIT
# KEY=VALUE lines; values may hold blanks.
while IFS='=' read -r key value; do
  [ -n "$key" ] && printf -v "$key" '%s' "$value"
done <"$fixture/env"
echo "run-check: sshd on $SSHD_HOST:$SSHD_PORT, account $SSHD_USER"

b64() { printf '%s' "$1" | base64 -w0; }
param() {  # param COMMAND OPERATOR VALUE MODE [KEYFILE PASSWORD PORT]
  local keyfile=${5:-} password=${6-$SSHD_PASSWORD} port=${7:-$SSHD_PORT}
  printf '#ENC=T#USR=%s#PWD=%s#PROTO=A#PORT=%s#KEYF=%s#KEYT=RSA#CMD=%s#CCO=%s#CON=%s#RRE=%s#' \
    "$SSHD_USER" "$(b64 "$password")" "$port" "$keyfile" "$(b64 "$1")" "$2" "$3" "$4"
}

declare -a names params
names+=("UP: password, output contains ok");       params+=("$(param 'echo ok' CON ok NO)")
names+=("UP: Ed25519 key, load average below 100"); params+=("$(param "cut -d' ' -f1 /proc/loadavg" LT 100 YEA "$KEY_ED25519" "$KEY_ED25519_PASSPHRASE")")
names+=("UP: a newer OpenSSH offering only ML-KEM"); params+=("$(param 'echo ok' CON ok NO '' "$SSHD_PASSWORD" "$SSHD_MLKEM_PORT")")
names+=("DOWN: output lacks the text");             params+=("$(param 'uname -s' CON Windows YED)")
names+=("DOWN: wrong password");                    params+=("$(param 'echo ok' CON ok NO '' 'not the password')")

echo
echo "== tavrin-check (Linux)"
for i in "${!names[@]}"; do
  set +e
  text=$(build/linux/tools/tavrin-check --host "$SSHD_HOST" --timeout 10 --parameter "${params[$i]}")
  rc=$?
  set -e
  printf '%-45s exit %d  %s\n' "${names[$i]}" "$rc" "$text"
done

echo
echo "== comTavrin.dll under Wine, from VBScript"
export WINEPREFIX=$work/wine64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
[ -f "$WINEPREFIX/.tavrin-ready" ] || { "$wine64" wineboot -i >/dev/null 2>&1 || true; touch "$WINEPREFIX/.tavrin-ready"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
dll=$(winpath "$root/build/win64/plugin/com/comTavrin.dll")
"$wine64" regsvr32 /s "$dll"
list=$work/checks.txt
: >"$list"
for i in "${!names[@]}"; do
  p=${params[$i]//$KEY_ED25519/$(winpath "$KEY_ED25519")}
  printf '%s\t%s\n' "${names[$i]}" "$p" >>"$list"
done
"$wine64" cscript //nologo "$(winpath "$root/scripts/run-check.vbs")" "$SSHD_HOST" "$(winpath "$list")"
"$wine64" regsvr32 /s /u "$dll"
