#!/usr/bin/env bash
# tavrin-check end to end against the test sshd: verdicts and exit codes, the traces of
# --verbose, key files, a bound time-out, compose -> describe -> check with the string, the
# parameter string from a file and from standard input, describe keeping the password to
# itself, pinning the server's host key, and the options of a monitoring plug-in (ranges,
# perfdata, -p and -l), and the password kept in the Windows stores (or refused by name).
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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stdin_from=/dev/null
run() {  # run ARGS... -> sets out, err, rc, secs; standard input from $stdin_from
  local o e t0 t1
  o=$(mktemp) e=$(mktemp)
  t0=$(date +%s.%N)
  "${runner[@]}" "$program" "$@" <"$stdin_from" >"$o" 2>"$e"
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
# A check that could not run at all is UNKNOWN (3), as is a usage error.
expect "no user name: the fixed text, exit 3" 3 "ERR: can't connect to an SSH server without a USERNAME" \
  --host "$host" --parameter "#PWD=cA==#"
expect "port out of range: the error path, exit 3" 3 "ERR: Overflow( 0)" \
  --host "$host" --parameter "#USR=u#PWD=cA==#PORT=70000#"
expect "time-out that is no number, exit 3" 3 "ERR: Type mismatch( 0)" \
  --host "$host" --timeout soon --parameter "$(param 'echo x' CON x NO)"
expect "password that is no Base64, exit 3" 3 "ERR: Invalid procedure call or argument( 0)" \
  --host "$host" --parameter "#USR=u#PWD==cA=#"
run --host "$host" --timeout 10 --parameter "$(param 'echo x' CON x NO "$work/no-such-key")"
if [ "$rc" = 3 ] && [[ "$out" == "ERR: "* ]]; then ok "key file that cannot be loaded: exit 3 ($out)"
else bad "missing key file" "exit $rc: $out"; fi
expect "usage error: exit 3 and nothing on standard output" 3 "" --host "$host"
expect "parameter given twice: usage error" 3 "" --host "$host" --parameter x --parameter-file "$work/x"
run --help
if [ "$rc" = 0 ] && grep -q -- "--parameter-file F" <<<"$out" \
  && grep -q "Exit status: 0 OK (UP); 1 WARNING; 2 CRITICAL" <<<"$out" && grep -q "command line" <<<"$out" \
  && awk 'length($0) > 80 { wide = 1 } END { exit wide }' <<<"$out"; then
  ok "--help documents the exit status and the parameter file, within 80 columns"
else bad "--help" "exit $rc" "$out"; fi
run -h
if [ "$rc" = 0 ] && grep -q -- "-w, --warning RANGE" <<<"$out"; then ok "-h is --help"; else bad "-h" "exit $rc" "$out"; fi
run -V
if [ "$rc" = 0 ] && [[ "$(sed -n 1p <<<"$out")" =~ ^tavrin-check\ [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] \
  && [[ "$(sed -n 2p <<<"$out")" =~ ^libssh\ [0-9]+\.[0-9]+\.[0-9]+ ]]; then ok "-V (--version): $(tr '\n' ' ' <<<"$out")"
else bad "-V" "exit $rc" "$out"; fi

# As a monitoring plug-in: short options, ranges on the number the output begins with, perfdata,
# and -p / -l in place of the string's PORT and USR.
number=$(param 'echo 42' CON 42 NO)
expect "-H -t: the short forms" 0 "Output contains 42" -H "$host" -t 10 --parameter "$number"
expect "-w 50 -c 100: inside both, exit 0" 0 "Output contains 42" -H "$host" -t 10 -w 50 -c 100 --parameter "$number"
expect "-w 10 -c 100: WARNING, exit 1" 1 "Output contains 42 (value 42 is outside the warning range 10)" \
  -H "$host" -t 10 -w 10 -c 100 --parameter "$number"
expect "-w 10 -c 40: CRITICAL, exit 2" 2 "Output contains 42 (value 42 is outside the critical range 40)" \
  -H "$host" -t 10 -w 10 -c 40 --parameter "$number"
expect "--warning=@40:45: inside, exit 1" 1 "Output contains 42 (value 42 is inside the warning range @40:45)" \
  -H "$host" -t 10 --warning=@40:45 --parameter "$number"
expect "a range on output without a number: UNKNOWN, exit 3" 3 \
  "Output contains ok (the output begins with no number to compare with the ranges)" \
  -H "$host" -t 10 -c 10 --parameter "$(param 'echo ok' CON ok NO)"
expect "a DOWN check stays DOWN whatever the ranges" 2 "Output doesn't contain absent" \
  -H "$host" -t 10 -w 100 -c 100 --parameter "$(param 'echo 42' CON absent NO)"
run -H "$host" -t 10 -w 10:5 --parameter "$number"
if [ "$rc" = 3 ] && [ -z "$out" ] && [[ "$err" == *"-w/--warning"*"10:5"* ]]; then ok "a malformed range: usage error naming -w"
else bad "malformed range" "exit $rc" "$out" "$err"; fi
run -H "$host" -t 10 -w 10 -c 100 --perfdata --parameter "$number"
if [ "$rc" = 1 ] && [[ "$out" =~ ^Output\ contains\ 42\ \(value\ 42\ is\ outside\ the\ warning\ range\ 10\)\ \|\ time=[0-9]+\.[0-9]{3}s\;\;\;0\ value=42\;10\;100$ ]]; then
  ok "--perfdata: time and value with the ranges ($out)"
else bad "--perfdata" "exit $rc" "$out"; fi
run -H "$host" -t 10 --perfdata --parameter "$(param 'printf "7 items\nsecond line\n"' CON items YEA)"
first=$(sed -n 1p <<<"$out")
if [ "$rc" = 0 ] && [[ "$first" =~ ^Output\ contains\ items\(7\ items\ \|\ time=[0-9]+\.[0-9]{3}s\;\;\;0\ value=7\;\;$ ]] \
  && [ "$(sed -n '2,$p' <<<"$out")" = "second line
)" ]; then ok "--perfdata follows the first line; the other lines stay as they were"
else bad "--perfdata on a result of several lines" "exit $rc" "$out"; fi
run -H "$host" -t 10 --perfdata --parameter "$(param 'echo ok' CON ok NO)"
if [ "$rc" = 0 ] && [[ "$out" =~ ^Output\ contains\ ok\ \|\ time=[0-9]+\.[0-9]{3}s\;\;\;0$ ]]; then
  ok "--perfdata without a number: time only"
else bad "--perfdata without a number" "exit $rc" "$out"; fi
elsewhere=$(param 'whoami' CON "$SSHD_USER" NO)
elsewhere=${elsewhere/PORT=$SSHD_PORT#/PORT=1#}
elsewhere=${elsewhere/USR=$SSHD_USER#/USR=no-such-user-here#}
expect "-p and -l replace the string's PORT and USR: UP" 0 "Output contains $SSHD_USER" \
  -H "$host" -t 10 -p "$SSHD_PORT" -l "$SSHD_USER" --parameter "$elsewhere"
run -H "$host" -t 10 --parameter "$elsewhere"
if [ "$rc" = 2 ]; then ok "without -p and -l that string is DOWN"; else bad "the string's own PORT" "exit $rc" "$out"; fi
run -H "$host" -t 10 -p 1 --parameter "$number"
if [ "$rc" = 2 ] && [[ "$out" == *"port 1:"* ]]; then ok "-p 1: DOWN on the port given ($out)"; else bad "-p 1" "exit $rc" "$out"; fi
run -H "$host" -t 10 --login=no-such-user-here --parameter "$number"
if [ "$rc" = 2 ] && [[ "$out" != ERR:* ]]; then ok "--login of an unknown user: DOWN ($out)"; else bad "--login" "exit $rc" "$out"; fi
run -H "$host" -p 70000 --parameter "$number"
if [ "$rc" = 3 ] && [ -z "$out" ] && [[ "$err" == *"-p/--port"* ]]; then ok "-p out of range: usage error"
else bad "-p 70000" "exit $rc" "$out" "$err"; fi

# The parameter string from a file and from standard input, so that it stands on no command line.
param 'echo from-file' CON from-file NO >"$work/param"
chmod 600 "$work/param"
expect "--parameter-file: UP" 0 "Output contains from-file" \
  --host "$host" --timeout 10 --parameter-file "$(path_for_program "$work/param")"
printf '%s\r\n' "$(param 'echo from-stdin' CON from-stdin NO)" >"$work/stdin"
stdin_from=$work/stdin
expect "--parameter -: UP (the line end of a Windows file is no part of it)" 0 "Output contains from-stdin" \
  --host "$host" --timeout 10 --parameter -
stdin_from=/dev/null
expect "--parameter-file that cannot be read: exit 3" 3 "" \
  --host "$host" --parameter-file "$(path_for_program "$work/missing")"

run --host "$host" --timeout 10 --parameter "$(param 'echo ok' CON ok NO '' 'wrong password')"
if [ "$rc" = 2 ] && [ -n "$out" ] && [[ "$out" != ERR:* ]]; then ok "wrong password: DOWN with the server's refusal"
else bad "wrong password" "exit $rc: $out"; fi

run --host "$host" --timeout 10 --verbose --parameter "$(param 'printf traced' CON traced NO)"
if [ "$rc" = 0 ] && grep -qx "Disconnected from SSH server" <<<"$err" && grep -qx "Received: traced" <<<"$err"; then
  ok "--verbose writes both traces to standard error"
else bad "--verbose traces" "exit $rc" "stderr: $err"; fi

# A server that offers only a post-quantum key exchange: the check works, and --verbose names it.
pq=$(param 'echo pq' CON pq NO)
pq=${pq/PORT=$SSHD_PORT#/PORT=$SSHD_PQ_PORT#}
run --host "$host" --timeout 10 --verbose --parameter "$pq"
if [ "$rc" = 0 ] && grep -q "sntrup761x25519-sha512@openssh.com" <<<"$err"; then
  ok "a post-quantum-only server: UP, and --verbose names the key exchange"
else bad "post-quantum key exchange" "exit $rc: $out" "stderr: $err"; fi

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
  ok "describe decodes the command, hides the password, warns of nothing"
else bad "describe" "exit $rc" "$out"; fi

# describe shows nothing of the password: not the password, not its Base64 form, not its
# length (the output for a longer password is the same), whichever way the string arrives.
secret='Zebra-Secret-42'
secret_b64=$(b64 "$secret")
run compose --user u --password "$secret" --command x --value y
printf '%s\n' "$out" >"$work/secret-param"
run compose --user u --password "${secret}${secret}" --command x --value y
printf '%s\n' "$out" >"$work/longer-param"
leaks() { grep -q -e "$secret" -e "$secret_b64" -e "${secret_b64%%=*}" -e '\*\*\*' <<<"$1"; }
run describe --parameter-file "$(path_for_program "$work/secret-param")"
hidden=$out hidden_rc=$rc
run describe --parameter-file "$(path_for_program "$work/longer-param")"
if [ "$hidden_rc" = 0 ] && [ "$rc" = 0 ] && ! leaks "$hidden" && [ "$hidden" = "$out" ] && grep -q "^PWD" <<<"$hidden"; then
  ok "describe hides the password, its Base64 form and its length"
else bad "describe hiding" "exit $hidden_rc/$rc" "$hidden" "---" "$out"; fi
stdin_from=$work/secret-param
run describe --parameter -
stdin_from=/dev/null
if [ "$rc" = 0 ] && ! leaks "$out" && grep -q "^USR   = u" <<<"$out"; then ok "describe --parameter - hides the password"
else bad "describe from standard input" "exit $rc" "$out"; fi
run describe --parameter "#USR=u#PWD==${secret_b64}#"
if [ "$rc" = 0 ] && ! leaks "$out" && grep -q "not valid Base64" <<<"$out"; then ok "describe hides a password that is no Base64"
else bad "describe of a bad password" "exit $rc" "$out"; fi
run describe --parameter-file "$(path_for_program "$work/secret-param")" --show-password
if [ "$rc" = 0 ] && grep -q "$secret" <<<"$out" && grep -q "$secret_b64" <<<"$out"; then ok "describe --show-password shows it"
else bad "describe --show-password" "exit $rc" "$out"; fi
expect "a check with the composed string" 0 "Output contains round-trip(round-trip
)" --host "$host" --timeout 10 --parameter "$composed"
run compose --user 'a#b' --command x
if [ "$rc" = 3 ] && [ -z "$out" ] && [[ "$err" == *'"#"'* ]]; then ok "compose refuses a # in a plain field"
else bad "compose refusal" "exit $rc" "$out" "$err"; fi

# Pinning: fetch the server's key without logging in, pin it, check with the pinned string.
run pin --host "$host" --port "$SSHD_PORT" --timeout 10
pinned_key=$(cut -d' ' -f2 <<<"$out")
if [ "$rc" = 0 ] && [[ "$out" =~ ^(ssh-ed25519|ecdsa-sha2-nistp256|rsa-sha2-512|rsa-sha2-256|ssh-rsa)\ SHA256: ]] \
  && { [ "$pinned_key" = "$HOSTKEY_ED25519_SHA256" ] || [ "$pinned_key" = "$HOSTKEY_ECDSA_SHA256" ] \
       || [ "$pinned_key" = "$HOSTKEY_RSA_SHA256" ]; }; then
  ok "pin prints the server's key type and fingerprint ($out)"
else bad "pin" "exit $rc" "$out" "$err"; fi
param 'echo pinned' CON pinned NO >"$work/pin-param"
run pin --host "$host" --timeout 10 --parameter-file "$(path_for_program "$work/pin-param")"
with_pin=$(sed -n 2p <<<"$out")
if [ "$rc" = 0 ] && [ "$with_pin" = "$(cat "$work/pin-param")HFP=$pinned_key#" ]; then
  ok "pin --parameter-file: the string with HFP set, on the string's own port"
else bad "pin with a parameter string" "exit $rc" "$out" "$err"; fi
expect "a check with the pinned key: UP" 0 "Output contains pinned" --host "$host" --timeout 10 --parameter "$with_pin"
run pin --host "$host" --timeout 10 --parameter "${with_pin/HFP=/HFP=SHA256:0000000000000000000000000000000000000000000,}"
if [ "$rc" = 0 ] && [ "$(sed -n 2p <<<"$out")" = "$with_pin" ]; then ok "pin replaces the pins a string had"
else bad "pin replacing HFP" "exit $rc" "$out" "$err"; fi
other_key=$(ssh-keygen -l -E sha256 -f "$OTHER_HOSTKEY_PUB" | cut -d' ' -f2)
run compose --user "$SSHD_USER" --password "$SSHD_PASSWORD" --port "$SSHD_PORT" --command "echo pinned" --value pinned \
  --host-key "$other_key"
run --host "$host" --timeout 10 --parameter "$out"
if [ "$rc" = 2 ] && [[ "$out" == *"$pinned_key"* ]]; then ok "a check pinned to another key: DOWN naming the server's key"
else bad "wrong pin" "exit $rc" "$out"; fi
expect "compose refuses a malformed host key" 3 "" compose --user u --command x --host-key "MD5:00:11"
closed_port=1
run pin --host "$host" --port "$closed_port" --timeout 5
if [ "$rc" = 2 ] && [ -z "$out" ] && [ -n "$err" ]; then ok "pin of a port where no server listens: exit 2 ($err)"
else bad "pin without a server" "exit $rc" "$out" "$err"; fi

# Behind the bastion: pin fetches the inner server's key through it (the string's bastion login),
# pin --jump the bastion's own key; the string with both pinned checks UP.
run compose --user "$SSHD_USER" --password "$SSHD_PASSWORD" --port "$SSHD_INNER_PORT" --command "echo inner" \
  --value inner --jump "$SSHD_USER@$host:$SSHD_BASTION_PORT"
behind=$out
run pin --host localhost --timeout 10 --parameter "$behind"
if [ "$rc" = 0 ] && [ "$(sed -n 1p <<<"$out" | cut -d' ' -f2)" = "$INNER_HOSTKEY_SHA256" ]; then
  ok "pin of a server behind the bastion: its own key, fetched through the bastion"
else bad "pin through the bastion" "exit $rc" "$out" "$err"; fi
behind=$(sed -n 2p <<<"$out")
run pin --jump --timeout 10 --parameter "$behind"
if [ "$rc" = 0 ] && [ "$(sed -n 1p <<<"$out" | cut -d' ' -f2)" = "$HOSTKEY_ED25519_SHA256" ]; then
  ok "pin --jump: the bastion's key, JFP set"
else bad "pin --jump" "exit $rc" "$out" "$err"; fi
expect "a check through the bastion with both keys pinned: UP" 0 "Output contains inner" --host localhost \
  --timeout 10 --parameter "$(sed -n 2p <<<"$out")"

# The password outside the string: the Credential Manager and DPAPI on Windows, refused by name
# elsewhere; never printed.
printf '%s\n' "$SSHD_PASSWORD" >"$work/store-pw"
store_pw=$(path_for_program "$work/store-pw")
target=tavrin-e2e/$SSHD_PORT
if [ "$windows" = 1 ]; then
  run credential set "$target" --user "$SSHD_USER" --password-file "$store_pw"
  if [ "$rc" = 0 ] && [[ "$out" == *"is stored for this account"* ]] && [[ "$out$err" != *"$SSHD_PASSWORD"* ]]; then
    ok "credential set: stored, the password not printed"
  else bad "credential set" "exit $rc" "$out" "$err"; fi
  run compose --user nobody-here --port "$SSHD_PORT" --command "echo from-cred" --value from-cred \
    --password-store "credential:$target"
  cred_param=$out
  if [ "$rc" = 0 ] && [[ "$cred_param" == *"#PWD=#"* ]] && [[ "$cred_param" == *"#CRED=$target#"* ]]; then
    ok "compose --password-store credential: CRED set, PWD empty"
  else bad "compose with a credential" "exit $rc" "$out" "$err"; fi
  expect "a check with CRED: its password and user name, UP" 0 "Output contains from-cred" \
    --host "$host" --timeout 10 --parameter "$cred_param"
  run describe --parameter "$cred_param"
  if [[ "$out" == *"exists for this account, user name \"$SSHD_USER\""* ]] && [[ "$out" != *"$SSHD_PASSWORD"* ]]; then
    ok "describe: the credential exists, its user name, nothing of the password"
  else bad "describe CRED" "$out"; fi
  run compose --user "$SSHD_USER" --port "$SSHD_PORT" --command "echo from-dpapi" --value from-dpapi \
    --password-file "$store_pw" --password-store dpapi-machine
  dpapi_param=$out
  if [ "$rc" = 0 ] && [[ "$dpapi_param" == *"#PWD=#"* ]] && [[ "$dpapi_param" == *"#PWDE="* ]]; then
    ok "compose --password-store dpapi-machine: PWDE set, PWD empty"
  else bad "compose with DPAPI" "exit $rc" "$out" "$err"; fi
  expect "a check with PWDE: UP" 0 "Output contains from-dpapi" --host "$host" --timeout 10 --parameter "$dpapi_param"
  expect "credential delete: exit 0" 0 "the credential \"$target\" is deleted for this account" credential delete "$target"
  expect "credential delete of a missing one: exit 3" 3 "" credential delete "$target"
  run --host "$host" --timeout 10 --parameter "$cred_param"
  if [ "$rc" != 0 ] && [[ "$out" == *CRED* ]]; then ok "a check whose credential is gone fails naming CRED ($out)"
  else bad "a missing credential" "exit $rc" "$out" "$err"; fi
else
  for store in dpapi-machine dpapi-user "credential:$target"; do
    run compose --user u --command c --password-file "$store_pw" --password-store "$store"
    [ "$store" = "credential:$target" ] && run compose --user u --command c --password-store "$store"
    if [ "$rc" = 3 ] && [ -z "$out" ] && [[ "$err" == *"is a Windows store"* ]]; then ok "compose --password-store $store: refused by name"
    else bad "compose --password-store $store here" "exit $rc" "$out" "$err"; fi
  done
  run credential set "$target" --password-file "$store_pw"
  if [ "$rc" = 3 ] && [[ "$err" == *"is a Windows store"* ]]; then ok "credential set: refused by name"
  else bad "credential set here" "exit $rc" "$out" "$err"; fi
  run --host "$host" --timeout 10 --parameter "#ENC=T#USR=$SSHD_USER#PWD=$(b64 "$SSHD_PASSWORD")#PORT=$SSHD_PORT#CMD=$(b64 'echo x')#CCO=CON#CON=x#RRE=NO#PWDE=AQAA#"
  if [ "$rc" != 0 ] && [[ "$out" == *PWDE* ]] && [[ "$out" == *"Windows store"* ]]; then ok "a check with PWDE here fails naming it, PWD unused"
  else bad "PWDE here" "exit $rc" "$out" "$err"; fi
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
