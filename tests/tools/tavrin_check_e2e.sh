#!/usr/bin/env bash
# tavrin-check end to end against the test sshd: verdicts and exit codes, the traces of
# --verbose, key files, a bound time-out, and compose -> describe -> check with the string.
#   tavrin_check_e2e.sh ENV_FILE PROGRAM [RUNNER...]
# RUNNER, when given, runs the program (the Windows build runs under scripts/wine-run.sh);
# paths handed to a Windows program are then written as Z:\...
set -uo pipefail
env_file=$1 program=$2
shift 2
runner=("$@")
windows=0
[ "${#runner[@]}" -gt 0 ] && windows=1

while IFS='=' read -r key value; do
  [ -n "$key" ] && printf -v "$key" '%s' "$value"
done <"$env_file"

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok:   $1"; }
bad() { failed=$((failed + 1)); echo "FAIL: $1"; shift; printf '      %s\n' "$@"; }
path_for_program() { if [ "$windows" = 1 ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi; }
b64() { printf '%s' "$1" | base64 -w0; }
param() {  # param COMMAND OPERATOR VALUE MODE [KEYFILE [PASSWORD]]
  local keyfile=${5:-} password=${6-$SSHD_PASSWORD}
  [ -n "$keyfile" ] && keyfile=$(path_for_program "$keyfile")
  printf '#ENC=T#USR=%s#PWD=%s#PROTO=A#PORT=%s#KEYF=%s#KEYT=RSA#CMD=%s#CCO=%s#CON=%s#RRE=%s#' \
    "$SSHD_USER" "$(b64 "$password")" "$SSHD_PORT" "$keyfile" "$(b64 "$1")" "$2" "$3" "$4"
}
run() {  # run ARGS... -> sets out, err, rc, secs
  local o e t0 t1
  o=$(mktemp) e=$(mktemp)
  t0=$(date +%s.%N)
  "${runner[@]}" "$program" "$@" >"$o" 2>"$e"
  rc=$?
  t1=$(date +%s.%N)
  out=$(tr -d '\r' <"$o") err=$(tr -d '\r' <"$e")
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
  rm -f "$o" "$e"
}
expect() {  # expect NAME RC TEXT ARGS...
  local name=$1 want_rc=$2 want=$3
  shift 3
  run "$@"
  if [ "$rc" = "$want_rc" ] && [ "$out" = "$want" ]; then ok "$name"
  else bad "$name" "exit $rc (want $want_rc)" "got:  $out" "want: $want" "stderr: $err"; fi
}

host=$SSHD_HOST
expect "contains: UP, exit 0" 0 "Output contains tavrin" \
  --host "$host" --timeout 10 --parameter "$(param 'echo tavrin' CON tavrin NO)"
expect "does not contain: DOWN with the output, exit 2" 2 "Output doesn't contain absent(present
)" --host "$host" --timeout 10 --parameter "$(param 'echo present' CON absent YED)"
expect "less: UP with the number" 0 "Output is less then 100 (42)" \
  --host "$host" --timeout 10 --parameter "$(param 'echo 42' LT 100 NO)"
expect "greater: equal numbers are DOWN" 2 "Output is not greater then 42 (42)" \
  --host "$host" --timeout 10 --parameter "$(param 'echo 42' GT 42 NO)"
expect "standard error is collected too" 0 "Output contains oops" \
  --host "$host" --timeout 10 --parameter "$(param 'echo oops >&2' CON oops NO)"
expect "Ed25519 key with its pass phrase" 0 "Output contains key-ok" \
  --host "$host" --timeout 10 --parameter "$(param 'echo key-ok' CON key-ok NO "$KEY_ED25519" "$KEY_ED25519_PASSPHRASE")"
expect "no user name: the fixed text, exit 2" 2 "ERR: can't connect to an SSH server without a USERNAME" \
  --host "$host" --parameter "#PWD=cA==#"
expect "port out of range: the error path" 2 "ERR: Overflow( 0)" \
  --host "$host" --parameter "#USR=u#PWD=cA==#PORT=70000#"
expect "time-out that is no number" 2 "ERR: Type mismatch( 0)" \
  --host "$host" --timeout soon --parameter "$(param 'echo x' CON x NO)"
expect "usage error: exit 3 and nothing on standard output" 3 "" --host "$host"

run --host "$host" --timeout 10 --parameter "$(param 'echo ok' CON ok NO '' 'wrong password')"
if [ "$rc" = 2 ] && [ -n "$out" ] && [[ "$out" != ERR:* ]]; then ok "wrong password: DOWN with the server's refusal"
else bad "wrong password" "exit $rc: $out"; fi

run --host "$host" --timeout 10 --verbose --parameter "$(param 'printf traced' CON traced NO)"
if [ "$rc" = 0 ] && grep -qx "Disconnected from SSH server" <<<"$err" && grep -qx "Received: traced" <<<"$err"; then
  ok "--verbose writes both traces to standard error"
else bad "--verbose traces" "exit $rc" "stderr: $err"; fi

run --host "$host" --timeout 2 --parameter "$(param 'sleep 30; echo late' CON late NO)"
if [ "$rc" = 2 ] && [[ "$out" == *[Tt]imed\ out* ]] && awk -v s="$secs" 'BEGIN { exit !(s < 4.5) }'; then
  ok "a command that outlives its 2 s time-out is DOWN after ${secs}s"
else bad "time-out bound" "exit $rc after ${secs}s: $out"; fi

# The operator tools, round trip: compose, describe it, then check with it.
run compose --user "$SSHD_USER" --password "$SSHD_PASSWORD" --port "$SSHD_PORT" --command "echo round-trip" \
  --operator contains --value round-trip --return-data always
composed=$out
want="#ENC=T#USR=$SSHD_USER#PWD=$(b64 "$SSHD_PASSWORD")#PROTO=A#PORT=$SSHD_PORT#KEYF=#KEYT=RSA#CMD=$(b64 'echo round-trip')#CCO=CON#CON=round-trip#RRE=YEA#"
if [ "$rc" = 0 ] && [ "$composed" = "$want" ]; then ok "compose writes the dialog's string"
else bad "compose" "exit $rc" "got:  $composed" "want: $want"; fi
run describe --parameter "$composed"
if [ "$rc" = 0 ] && grep -q "echo round-trip" <<<"$out" && ! grep -q "$SSHD_PASSWORD" <<<"$out" && ! grep -q "^warning" <<<"$out"; then
  ok "describe decodes the command, masks the password, warns of nothing"
else bad "describe" "exit $rc" "$out"; fi
expect "a check with the composed string" 0 "Output contains round-trip(round-trip
)" --host "$host" --timeout 10 --parameter "$composed"
run compose --user 'a#b' --command x
if [ "$rc" = 3 ] && [ -z "$out" ] && [[ "$err" == *'"#"'* ]]; then ok "compose refuses a # in a plain field"
else bad "compose refusal" "exit $rc" "$out" "$err"; fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
