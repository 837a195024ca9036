#!/usr/bin/env bash
# tavrin-check under a real Icinga 2, as a satellite runs it: the .deb of scripts/make-deb.sh
# (its control fields and files), unpacked into a temporary root; its CheckCommand validated
# beside the whole ITL; then an Icinga 2 of our own (temporary folder, REST API on 127.0.0.1
# with certificates of its own CA, no database) runs services with parameter strings from
# files against the test sshd. Their checks are forced through the API and their states,
# outputs, performance data and command lines read back. Last, a measurement (printed, not
# judged): the checks per minute that one instance sustains through tavrin-check, and through
# check_by_ssh when the Monitoring Plugins are installed.
#   icinga2_e2e.sh ENV_FILE BUILD_DIR
# TAVRIN_BENCH_SECONDS (default 15) and TAVRIN_BENCH_SERVICES (default 20) size the measurement;
# the run stops itself after TAVRIN_ICINGA2_DEADLINE seconds (default 90).
set -uo pipefail
env_file=$1 build=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bench_seconds=${TAVRIN_BENCH_SECONDS:-15}
bench_services=${TAVRIN_BENCH_SERVICES:-20}
py=/usr/bin/python3
icinga_user=nagios  # Debian's icinga2 runs as nagios

while IFS='=' read -r key value; do
  [ -n "$key" ] && printf -v "$key" '%s' "$value"
done <"$env_file"

passed=0 failed=0
ok() { passed=$((passed + 1)); echo "ok:   $1"; }
bad() { failed=$((failed + 1)); echo "FAIL: $1"; shift; printf '      %s\n' "$@"; }
fatal() { bad "$@"; echo "$passed passed, $failed failed"; exit 1; }
started=$(date +%s)

for tool in icinga2 dpkg-deb curl "$py"; do
  command -v "$tool" >/dev/null || fatal "$tool is missing (scripts/setup.sh installs it)"
done
id "$icinga_user" >/dev/null 2>&1 || fatal "no account $icinga_user (package icinga2-common makes it)"

work=$(mktemp -d /tmp/tavrin-icinga2.XXXXXX)
chmod 0755 "$work"  # Icinga 2 drops root for $icinga_user, who must reach the files below
icinga_pid='' stream_pid='' watchdog_pid=''

# The process tree below PID, deepest last: the daemon, its spawn helper and the plug-ins.
tree_of() {
  local pids=("$1") i=0 child
  while [ "$i" -lt "${#pids[@]}" ]; do
    for child in $(ps -o pid= --ppid "${pids[$i]}" 2>/dev/null); do pids+=("$child"); done
    i=$((i + 1))
  done
  echo "${pids[@]}"
}
stop_tree() {  # stop_tree PID: TERM to the tree, KILL to what is left after 10 s
  local pids; pids=$(tree_of "$1")
  kill -TERM $pids 2>/dev/null
  for _ in $(seq 100); do
    kill -0 $pids 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL $pids 2>/dev/null
  return 0
}
cleanup() {
  [ -n "$watchdog_pid" ] && stop_tree "$watchdog_pid"
  [ -n "$stream_pid" ] && kill "$stream_pid" 2>/dev/null
  if [ -n "$icinga_pid" ]; then stop_tree "$icinga_pid"; wait "$icinga_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# Ends the run, through the traps above, well before CTest's TIMEOUT would kill it outright.
deadline=${TAVRIN_ICINGA2_DEADLINE:-90}
( sleep "$deadline"; echo "FAIL: still running after ${deadline}s: stopping"; kill -TERM $$ ) &
watchdog_pid=$!

# The package: made by the same script as the release's, from this build tree.
deb=$(timeout 120 bash "$root/scripts/make-deb.sh" "$build" "$work/deb" | tail -n 1)
[ -f "$deb" ] || fatal "scripts/make-deb.sh made no package"
version=$(timeout 10 "$build/tools/tavrin-check" -V | sed -n 's/^tavrin-check //p')
control=$(dpkg-deb -f "$deb")
field() { sed -n "s/^$1: //p" <<<"$control"; }
while IFS='|' read -r name want; do
  got=$(field "$name")
  if [[ "$got" =~ $want ]]; then ok "control $name: $got"; else bad "control $name" "got:  $got" "want: /$want/"; fi
done <<TABLE
Package|^tavrin-check$
Version|^${version//./\\.}$
Architecture|^amd64$
Maintainer|^.+ <.+@.+>$
Depends|(^|, )libssl3 \(>= [0-9.]+\)(,|$)
Depends|(^|, )libpcre2-16-0 \(>= [0-9.]+\)(,|$)
Depends|(^|, )libgcrypt20 \(>= [0-9.]+\)(,|$)
Depends|(^|, )libc6 \(>= [0-9.]+\)(,|$)
Description|^.+$
TABLE
field Depends | grep -q libssh && bad "Depends names no libssh" "$(field Depends)"
plugin_rel=usr/lib/nagios/plugins/tavrin-check
conf_rel=usr/share/icinga2/include/plugins-contrib.d/tavrin-check.conf
listing=$(dpkg-deb -c "$deb")
if grep -Eq "^-rwxr-xr-x root/root .* \./$plugin_rel$" <<<"$listing" \
  && grep -Eq "^-rw-r--r-- root/root .* \./$conf_rel$" <<<"$listing"; then
  ok "the package installs the plug-in (0755) and the CheckCommand (0644), owned by root"
else bad "package contents" "$listing"; fi

# Unpacked, not installed: the machine's own /usr stays as it was.
dpkg-deb -x "$deb" "$work/root" || fatal "dpkg-deb -x failed"
plugin=$work/root/$plugin_rel
conf=$work/root/$conf_rel
libs=$(ldd "$plugin" 2>&1)
if ! grep -q libssh <<<"$libs" && ! grep -q "not found" <<<"$libs" \
  && [ "$(timeout 10 "$plugin" -V | head -n 1)" = "tavrin-check $version" ]; then
  ok "the installed plug-in runs and links libssh statically"
else bad "installed plug-in" "$libs"; fi

dirs() {  # dirs DIR: makes DIR's folders and prints the constants that keep an Icinga 2 in them
  install -d -o "$icinga_user" "$1"/{etc,lib,log,cache,spool,run} || return 1
  printf '%s\n' "-DConfigDir=$1/etc" "-DDataDir=$1/lib" "-DLogDir=$1/log" "-DCacheDir=$1/cache" \
    "-DSpoolDir=$1/spool" "-DInitRunDir=$1/run"
}
# Beside every command definition of the ITL, so that a clash of names or an error shows.
mapfile -t vdefs < <(dirs "$work/validate")
[ "${#vdefs[@]}" = 6 ] || fatal "the folders of $work/validate could not be made"
cat >"$work/validate/icinga2.conf" <<CONF
const PluginDir = "$work/root/usr/lib/nagios/plugins"
const PluginContribDir = PluginDir
const ManubulonPluginDir = PluginDir
include <itl>
include <plugins>
include <plugins-contrib>
include <manubulon>
include <windows-plugins>
include <nscp>
include "$conf"
object Host "satellite-host" { address = "192.0.2.1"; check_command = "dummy" }
object Service "disk" {
  host_name = "satellite-host"
  check_command = "tavrin-check"
  vars.tavrin_check_parameter_file = "/etc/icinga2/tavrin/disk.txt"
  vars.tavrin_check_warning = "80"
  vars.tavrin_check_critical = "90"
  vars.tavrin_check_perfdata = true
}
CONF
if out=$(timeout 60 icinga2 daemon -C -c "$work/validate/icinga2.conf" "${vdefs[@]}" 2>&1) \
  && grep -q "Finished validating the configuration" <<<"$out"; then
  ok "icinga2 daemon -C accepts the CheckCommand beside the whole ITL"
else bad "icinga2 daemon -C" "$(tail -n 20 <<<"$out")"; fi

# Parameter strings, composed by the installed plug-in, each in a file that only the monitoring
# user can read; the host keys pinned.
pins="$HOSTKEY_ED25519_SHA256,$HOSTKEY_ECDSA_SHA256,$HOSTKEY_RSA_SHA256"
mkdir -p "$work/params"
compose_to() {  # compose_to NAME COMPOSE-ARGS...
  local name=$1; shift
  "$plugin" compose --user "$SSHD_USER" --port "$SSHD_PORT" --host-key "$pins" "$@" >"$work/params/$name.txt" \
    || fatal "compose for $name failed"
  chown "$icinga_user:" "$work/params/$name.txt"
  chmod 0600 "$work/params/$name.txt"
}
compose_to number --password "$SSHD_PASSWORD" --command 'echo 42' --operator contains --value 42
compose_to down --password "$SSHD_PASSWORD" --command 'echo present' --operator contains --value absent
compose_to no-key --key-file "$work/no-such-key" --command 'echo 42' --operator contains --value 42
# For the measurement, both plug-ins log in with the same key (ssh accepts it only from a file
# that its user alone can read); check_by_ssh knows the server's host key from a file of its own.
install -o "$icinga_user" -m 0600 "$KEY_ECDSA" "$work/client_key"
compose_to bench --key-file "$work/client_key" --command 'echo 42' --operator contains --value 42
by_ssh=/usr/lib/nagios/plugins/check_by_ssh
[ -x "$by_ssh" ] || by_ssh=
echo "[$SSHD_HOST]:$SSHD_PORT $(cut -d' ' -f1,2 "$HOSTKEY_ED25519_PUB")" >"$work/by_ssh_known_hosts"

node=tavrin-e2e
api_user=tavrin-test
api_password=$(head -c 18 /dev/urandom | base64 | tr '+/' '-_')
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
api_port=
for _ in $(seq 20); do
  p=$((32768 + RANDOM % 20000))
  if port_free "$p"; then api_port=$p; break; fi
done
[ -n "$api_port" ] || fatal "no free port for the API"

i=$work/icinga
mapfile -t defs < <(dirs "$i")
[ "${#defs[@]}" = 6 ] || fatal "the folders of $i could not be made"
install -d -o "$icinga_user" "$i/lib/certs"
defs+=("-DNodeName=$node")
# The API's certificates: a CA of this run, a key and a certificate it signs for the node.
if ! timeout 60 icinga2 pki new-ca "${defs[@]}" >"$i/pki.log" 2>&1 \
  || ! timeout 60 icinga2 pki new-cert "${defs[@]}" --cn "$node" --key "$i/lib/certs/$node.key" \
       --csr "$i/lib/certs/$node.csr" >>"$i/pki.log" 2>&1 \
  || ! timeout 60 icinga2 pki sign-csr "${defs[@]}" --csr "$i/lib/certs/$node.csr" \
       --cert "$i/lib/certs/$node.crt" >>"$i/pki.log" 2>&1; then
  fatal "icinga2 pki" "$(tail -n 20 "$i/pki.log")"
fi
install -o "$icinga_user" -m 0644 "$i/lib/ca/ca.crt" "$i/lib/certs/ca.crt"

service() {  # service NAME PARAM-FILE [VARS-LINES]: a tavrin-check service on the sshd host
  printf 'object Service "%s" {\n  import "tavrin"\n  vars.tavrin_check_parameter_file = "%s"\n%s\n}\n' \
    "$1" "$work/params/$2.txt" "${3:-}"
}
{
  cat <<CONF
const PluginDir = "$work/root/usr/lib/nagios/plugins"
include <itl>
include "$conf"

object CheckerComponent "checker" { }
object FileLogger "main-log" { path = LogDir + "/icinga2.log"; severity = "information" }
object Endpoint NodeName { }
object Zone NodeName { endpoints = [ NodeName ] }
object ApiListener "api" {
  bind_host = "127.0.0.1"
  bind_port = $api_port
  accept_config = false
  accept_commands = false
}
object ApiUser "$api_user" { password = "$api_password"; permissions = [ "*" ] }

object Host "sshd" { address = "$SSHD_HOST"; check_command = "dummy"; enable_active_checks = false }

template Service "tavrin" {
  host_name = "sshd"
  check_command = "tavrin-check"
  max_check_attempts = 1
  check_interval = 1h
  retry_interval = 1h
  vars.tavrin_check_timeout = 10
}
template Service "bench" {
  host_name = "sshd"
  max_check_attempts = 1
  check_interval = 1s
  retry_interval = 1s
  enable_active_checks = false
}
object CheckCommand "bench-by-ssh" {
  command = [ "$by_ssh", "-H", "\$address\$", "-p", "$SSHD_PORT", "-l", "$SSHD_USER", "-i", "$work/client_key",
    "-t", "10", "-o", "BatchMode=yes", "-o", "IdentitiesOnly=yes", "-o", "StrictHostKeyChecking=yes",
    "-o", "UserKnownHostsFile=$work/by_ssh_known_hosts", "-o", "GlobalKnownHostsFile=/dev/null",
    "-o", "HostKeyAlgorithms=ssh-ed25519", "-C", "echo 42" ]
}
CONF
  service forced-ok number $'  vars.tavrin_check_warning = "50"\n  vars.tavrin_check_critical = "100"\n  vars.tavrin_check_perfdata = true'
  service forced-warning number $'  vars.tavrin_check_warning = "10"\n  vars.tavrin_check_critical = "100"\n  vars.tavrin_check_perfdata = true'
  service forced-critical down '  vars.tavrin_check_perfdata = true'
  service forced-unknown no-key
  for n in $(seq "$bench_services"); do
    printf 'object Service "bench-tavrin-%s" { import "bench"; check_command = "tavrin-check"; vars.tavrin_check_parameter_file = "%s"; vars.tavrin_check_timeout = 10 }\n' \
      "$n" "$work/params/bench.txt"
    [ -n "$by_ssh" ] && printf 'object Service "bench-by-ssh-%s" { import "bench"; check_command = "bench-by-ssh" }\n' "$n"
  done
} >"$i/etc/icinga2.conf"
[ -n "$by_ssh" ] || sed -i '/^object CheckCommand "bench-by-ssh"/,/^}/d' "$i/etc/icinga2.conf"

# Its own session, so that the daemon's tree is ours alone to stop.
setsid icinga2 daemon -c "$i/etc/icinga2.conf" "${defs[@]}" -x warning >"$i/daemon.out" 2>&1 &
icinga_pid=$!

printf 'user = "%s:%s"\n' "$api_user" "$api_password" >"$work/curlrc"
chmod 0600 "$work/curlrc"
api() {  # api METHOD PATH [JSON]: the response body on standard output
  local args=(-sS -k -K "$work/curlrc" --max-time 10 -H 'Accept: application/json' -X "$1")
  [ "$1" = QUERY ] && args=(-sS -k -K "$work/curlrc" --max-time 10 -H 'Accept: application/json' -X POST -H 'X-HTTP-Method-Override: GET')
  [ -n "${3:-}" ] && args+=(-d "$3")
  curl "${args[@]}" "https://127.0.0.1:$api_port$2"
}
up=0
for _ in $(seq 100); do
  kill -0 "$icinga_pid" 2>/dev/null || break
  if api GET /v1/status/IcingaApplication 2>/dev/null | grep -q '"icingaapplication"'; then up=1; break; fi
  sleep 0.2
done
[ "$up" = 1 ] || fatal "Icinga 2 did not answer on 127.0.0.1:$api_port" "$(tail -n 20 "$i/daemon.out")" \
  "$(tail -n 20 "$i/log/icinga2.log" 2>/dev/null)"
ok "Icinga 2 $(icinga2 --version | sed -n 's/.*(version: \(.*\))/\1/p') up with its API on 127.0.0.1:$api_port ($(( $(date +%s) - started ))s in)"
if [ "$(curl -s -k -o /dev/null -w '%{http_code}' --max-time 10 -u nobody:wrong "https://127.0.0.1:$api_port/v1/status")" = 401 ]; then
  ok "the API refuses an unknown user (401)"
else bad "API authentication" "an unknown user was not refused"; fi

# Force the four checks and wait for results that started after the request.
t0=$(date +%s.%N)
api POST /v1/actions/reschedule-check \
  '{"type": "Service", "filter": "match(\"forced-*\", service.name)", "force": true}' >"$work/reschedule.json"
if "$py" -c 'import json, sys; r = json.load(open(sys.argv[1]))["results"]; sys.exit(not (len(r) == 4 and all(int(x["code"]) == 200 for x in r)))' \
  "$work/reschedule.json" 2>/dev/null; then
  ok "reschedule-check with force accepted for the four services"
else bad "reschedule-check" "$(cat "$work/reschedule.json")"; fi
results=$work/forced.json
for _ in $(seq 60); do
  api QUERY /v1/objects/services \
    '{"filter": "match(\"forced-*\", service.name)", "attrs": ["name", "state", "last_check_result"]}' >"$results" 2>/dev/null
  if "$py" - "$results" "$t0" <<'PY'
import json, sys
rows = json.load(open(sys.argv[1]))["results"]
fresh = [r for r in rows if (r["attrs"]["last_check_result"] or {}).get("execution_start", 0) >= float(sys.argv[2])]
sys.exit(0 if len(rows) == 4 and len(fresh) == 4 else 1)
PY
  then break; fi
  sleep 0.5
done

# name|state|output (regular expression)|performance data (regular expression, joined by spaces)
while IFS='|' read -r name want_state want_output want_perf; do
  got=$("$py" - "$results" "$name" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    if r["attrs"]["name"] == sys.argv[2]:
        cr = r["attrs"]["last_check_result"] or {}
        print(int(r["attrs"]["state"]), cr.get("output", "").replace("\n", "\\n"),
              " ".join(cr.get("performance_data") or []), sep="|")
PY
)
  IFS='|' read -r state output perf <<<"$got"
  if [ "$state" = "$want_state" ] && [[ "$output" =~ $want_output ]] && [[ "$perf" =~ $want_perf ]]; then
    ok "$name: state $state, \"$output\" | $perf"
  else bad "$name" "got:  state ${state:-none}, output \"$output\", perfdata \"$perf\"" \
    "want: state $want_state, output /$want_output/, perfdata /$want_perf/"; fi
done <<TABLE
forced-ok|0|^Output contains 42 ?$|^time=[0-9]+\.[0-9]{3}s;;;0 value=42;50;100$
forced-warning|1|^Output contains 42 \(value 42 is outside the warning range 10\) ?$|^time=[0-9]+\.[0-9]{3}s;;;0 value=42;10;100$
forced-critical|2|^Output doesn't contain absent ?$|^time=[0-9]+\.[0-9]{3}s;;;0$
forced-unknown|3|^ERR: The key file '.*no-such-key' does not exist\( 0\)$|^$
TABLE

# The command line that Icinga 2 ran (its arguments sorted by name): -H from the host's address,
# the string's file, never the string, its password or the password's Base64.
cmdline=$("$py" - "$results" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    if r["attrs"]["name"] == "forced-ok":
        print("\x1f".join((r["attrs"]["last_check_result"] or {}).get("command") or []))
PY
)
s=$'\x1f'
if [[ "$cmdline$s" == "$plugin$s"* ]] && [[ "$s$cmdline$s" == *"$s-H$s$SSHD_HOST$s"* ]] \
  && [[ "$s$cmdline$s" == *"$s--parameter-file$s$work/params/number.txt$s"* ]] \
  && [[ "$s$cmdline$s" == *"$s-t${s}10$s"* ]] && [[ "$s$cmdline$s" == *"$s--perfdata$s"* ]] \
  && [[ "$s$cmdline$s" == *"$s-w${s}50$s"* ]] && [[ "$s$cmdline$s" == *"$s-c${s}100$s"* ]] \
  && [[ "$cmdline" != *"$SSHD_PASSWORD"* ]] && [[ "$cmdline" != *"$(printf '%s' "$SSHD_PASSWORD" | base64 -w0)"* ]] \
  && [[ "$cmdline" != *"#USR="* ]]; then
  ok "the command line: ${cmdline//$'\x1f'/ }"
else bad "command line" "${cmdline//$'\x1f'/ }"; fi

# Checks per minute: BENCH services every second for bench_seconds, counting the check results
# of the event stream that ended in the window (the first second, while the checks spread out,
# left out).
bench() {  # bench PREFIX LABEL
  local prefix=$1 label=$2 events=$work/events-$1.json t_on counts
  curl -sS -k -K "$work/curlrc" -N --max-time $((bench_seconds + 4)) -H 'Accept: application/json' -X POST \
    -d "{\"queue\": \"$prefix\", \"types\": [\"CheckResult\"], \"filter\": \"match(\\\"$prefix-*\\\", event.service)\"}" \
    "https://127.0.0.1:$api_port/v1/events" >"$events" 2>/dev/null &
  stream_pid=$!
  sleep 1
  t_on=$(date +%s.%N)
  api POST /v1/objects/services \
    "{\"filter\": \"match(\\\"$prefix-*\\\", service.name)\", \"attrs\": {\"enable_active_checks\": true}}" >/dev/null
  sleep $((bench_seconds + 1))
  api POST /v1/objects/services \
    "{\"filter\": \"match(\\\"$prefix-*\\\", service.name)\", \"attrs\": {\"enable_active_checks\": false}}" >/dev/null
  wait "$stream_pid" 2>/dev/null
  stream_pid=
  counts=$("$py" - "$events" "$t_on" "$bench_seconds" <<'PY'
import json, sys
start = float(sys.argv[2]) + 1
end = start + int(sys.argv[3])
total = good = 0
for line in open(sys.argv[1]):
    try:
        cr = json.loads(line)["check_result"]
    except (ValueError, KeyError):
        continue
    if start <= cr["execution_end"] < end:
        total += 1
        good += cr["state"] == 0
print(total, good)
PY
)
  local total=${counts% *} good=${counts#* }
  echo "bench: icinga2 $label checks/min: $(( total * 60 / bench_seconds ))" \
    "($total results in ${bench_seconds}s, $good OK; $bench_services services every 1 s ask for" \
    "$(( bench_services * 60 ))/min; ECDSA key login; load average $(cut -d' ' -f1-3 /proc/loadavg))"
  # The figure is not judged, but one of checks that never succeed would mean nothing.
  if [ "${good:-0}" -gt 0 ]; then ok "$label under load: $good of $total checks OK"
  else bad "$label under load: no check was OK" "$(tail -c 600 "$events")"; fi
}
bench bench-tavrin tavrin-check
if [ -n "$by_ssh" ]; then
  bench bench-by-ssh check_by_ssh
else
  echo "bench: check_by_ssh skipped: $by_ssh is not installed (monitoring-plugins-basic)"
fi

stop_tree "$icinga_pid"
wait "$icinga_pid" 2>/dev/null
icinga_pid=
if grep -q "critical/" "$i/log/icinga2.log"; then
  bad "Icinga 2 logged no critical message" "$(grep "critical/" "$i/log/icinga2.log" | head -n 5)"
fi
echo "$passed passed, $failed failed ($(( $(date +%s) - started ))s)"
[ "$failed" = 0 ]
