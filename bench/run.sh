#!/usr/bin/env bash
# The benchmarks, in one run: builds the bench hosts (Linux and Windows 64-bit), starts a test
# sshd on 127.0.0.1 and a Wine prefix of their own, measures the check against OpenSSH's ssh and
# check_by_ssh, prints the tables (also written to build/bench/results.md), then runs the
# fuzzers for a while. Everything it starts is stopped at the end.
#   bash bench/run.sh [--checks N] [--warmup N] [--soak N] [--threads N] [--per-thread N]
#                     [--fault-timeout S] [--fuzz SECONDS] [--sections LIST] [--quiet-load L]
#                     [--reuse-checks N] [--kill-every N] [--idle-links N] [--idle-seconds S]
#                     [--no-build] [--native-build DIR] [--libssh-prefix DIR]
# --sections: a comma list of speed,wait,throughput,soak,concurrency,one-core,faults,kept-faults,kept-idle
# (default: all). --reuse-checks: the checks of each kept-connection series (REUSE=60) and of the
# fault series on kept connections, where the server's sessions are killed before every
# --kill-every-th check. kept-idle: --idle-links kept connections (200) in one process, idle for
# --idle-seconds (60), then dropped on the way with iptables; it needs only the native host, and
# when it is the only section, nothing is built for Windows and no Wine prefix is started.
# --native-build DIR: the Linux build tree (default build/bench-linux); with --no-build, one that
# already holds tavrin-check and tavrin-bench-native.
# --fuzz 0 leaves the fuzzers out. --quiet-load L waits (at most 10 minutes) until the 1-minute
# load average is below L before measuring. --libssh-prefix DIR builds the Windows side against
# another static libssh (bench/build-libssh-variant.sh makes one) in build/bench-win64-variant.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build/bench
jobs=2

checks=30 warmup=3 soak=1000 threads=8 per_thread=50 fault_timeout=5 fuzz=30 quiet_load= build=1 libssh_prefix=
reuse_checks=100 kill_every=20 idle_links=200 idle_seconds=60 native_build=$root/build/bench-linux
sections=speed,wait,throughput,soak,concurrency,one-core,faults,kept-faults,kept-idle
while [ $# -gt 0 ]; do
  case $1 in
    --checks) checks=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --soak) soak=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --per-thread) per_thread=$2; shift 2 ;;
    --fault-timeout) fault_timeout=$2; shift 2 ;;
    --reuse-checks) reuse_checks=$2; shift 2 ;;
    --kill-every) kill_every=$2; shift 2 ;;
    --idle-links) idle_links=$2; shift 2 ;;
    --idle-seconds) idle_seconds=$2; shift 2 ;;
    --native-build) native_build=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
    --fuzz) fuzz=$2; shift 2 ;;
    --sections) sections=$2; shift 2 ;;
    --quiet-load) quiet_load=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    --libssh-prefix) libssh_prefix=$(cd "$2" && pwd); shift 2 ;;
    *) echo "bench: unknown option $1" >&2; exit 3 ;;
  esac
done
[ "$(id -u)" = 0 ] || { echo "bench: run as root (the test sshd needs it)" >&2; exit 3; }
mkdir -p "$work"
# Every section but kept-idle and one-core runs the Windows host too.
wine=0
for s in ${sections//,/ }; do [ "$s" = kept-idle ] || [ "$s" = one-core ] || wine=1; done

# ------------------------------------------------------------------ set-up
bash scripts/setup.sh >/dev/null
missing=()
while read -r p; do
  p=${p%%#*}; p=${p// /}
  [ -n "$p" ] || continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done <bench/packages.txt
if [ "${#missing[@]}" -gt 0 ]; then
  echo "bench: installing ${missing[*]}"
  apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

# ------------------------------------------------------------------ build
# Until the top-level CMakeLists.txt adds bench/, a copy of it that does, over links to the
# rest of the tree, stands in as the source directory.
source_dir=$root
if ! grep -qE '^\s*add_subdirectory\(bench\)' CMakeLists.txt; then
  source_dir=$work/overlay
  rm -rf "$source_dir"
  mkdir -p "$source_dir"
  for entry in "$root"/* "$root"/.ci; do
    name=$(basename "$entry")
    [ "$name" = CMakeLists.txt ] || ln -s "$entry" "$source_dir/$name"
  done
  { cat CMakeLists.txt; echo; echo 'add_subdirectory(bench)'; } >"$source_dir/CMakeLists.txt"
fi
configure() {  # PRESET BUILD-DIR [CMAKE-ARGS...]
  local preset=$1 dir=$2 cache=$2/CMakeCache.txt
  shift 2
  if [ -f "$cache" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$source_dir" "$cache"; then rm -rf "$dir"; fi
  (cd "$source_dir" && cmake --preset "$preset" -B "$dir" -DTAVRIN_TESTS=OFF "$@") >"$work/configure-$preset.log" 2>&1 ||
    { tail -n 30 "$work/configure-$preset.log"; exit 1; }
}
win64_dir=$root/build/bench-win64
win64_args=()
if [ -n "$libssh_prefix" ]; then
  win64_dir=$root/build/bench-win64-variant
  win64_args=(-DTAVRIN_LIBSSH_PREFIX="$libssh_prefix")
fi
if [ "$build" = 1 ]; then
  echo "bench: building (Linux$([ "$wine" = 1 ] && echo " and Windows 64-bit"))"
  configure linux "$native_build"
  cmake --build "$native_build" -j "$jobs" --target tavrin-check tavrin-bench-native >"$work/build-linux.log" 2>&1 ||
    { tail -n 40 "$work/build-linux.log"; exit 1; }
  if [ "$wine" = 1 ]; then
    configure win64 "$win64_dir" "${win64_args[@]}"
    cmake --build "$win64_dir" -j "$jobs" --target comTavrin tavrin-bench-com >"$work/build-win64.log" 2>&1 ||
      { tail -n 40 "$work/build-win64.log"; exit 1; }
  fi
fi
native_host=$native_build/bench/tavrin-bench-native
tavrin_check=$native_build/tools/tavrin-check
com_host=$win64_dir/bench/tavrin-bench-com.exe
dll=$win64_dir/plugin/com/comTavrin.dll
needed=("$native_host" "$tavrin_check")
[ "$wine" = 1 ] && needed+=("$com_host" "$dll")
for f in "${needed[@]}"; do [ -f "$f" ] || { echo "bench: $f is missing"; exit 1; }; done

# ------------------------------------------------------------------ servers and prefix
fixture=$work/sshd
export WINEPREFIX=$work/wine64 WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
wineserver64=/usr/lib/wine/wineserver64
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wineserver_pid=
registered=0
drop_tag=tavrin-bench-$$
export TAVRIN_BENCH_DROP_TAG=$drop_tag
prefix_processes() {  # the Wine programs and servers running in this bench's prefix
  local d exe
  for d in /proc/[0-9]*; do
    exe=$(readlink "$d/exe" 2>/dev/null) || continue
    case $exe in /usr/lib/wine/*) ;; *) continue ;; esac
    tr '\0' '\n' <"$d/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "${d#/proc/}"
  done
  return 0
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
cleanup() {
  set +e
  if [ "$registered" = 1 ]; then "$wine64" regsvr32 /s /u "$(winpath "$dll")" >/dev/null 2>&1; fi
  if [ -n "$wineserver_pid" ]; then
    "$wineserver64" -k >/dev/null 2>&1
    for _ in $(seq 50); do kill -0 "$wineserver_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$wineserver_pid" 2>/dev/null
  fi
  # Programs of this prefix that outlived their server (none, normally).
  for p in $(prefix_processes); do kill "$p" 2>/dev/null; done
  # The kept-idle section's iptables rules, should bench.py have been stopped before it removed
  # them (each carries this run's tag).
  iptables -w -S INPUT 2>/dev/null | grep -F -- "--comment $drop_tag " | sed 's/^-A /-D /' |
    while read -r rule; do eval "iptables -w $rule"; done
  bash tests/fixtures/sshd-fixture.sh stop "$fixture" >/dev/null 2>&1
}
trap cleanup EXIT

bash tests/fixtures/sshd-fixture.sh start "$fixture" >/dev/null
declare -A env
while IFS='=' read -r key value; do
  [ -n "$key" ] && env[$key]=$value
done <"$fixture/env"
port=${env[SSHD_PORT]}

# An Ed25519 key without a pass phrase, made here; the fixture's Ed25519 key (with a pass
# phrase) as a copy that ssh accepts (0600).
keys=$work/keys
mkdir -p "$keys"
[ -f "$keys/id_ed25519_plain" ] || ssh-keygen -q -t ed25519 -N '' -C tavrin-bench -f "$keys/id_ed25519_plain"
install -m 0600 "${env[KEY_ED25519]}" "$keys/id_ed25519_pp"
cat "$keys/id_ed25519_plain.pub" >>"$fixture/authorized_keys"
# known_hosts: the server's real key, and a different one (the changed-host-key case).
mkdir -p "$work/known/.ssh" "$work/known-changed/.ssh"
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "${env[HOSTKEY_ED25519_PUB]}")" >"$work/known/.ssh/known_hosts"
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "${env[OTHER_HOSTKEY_PUB]}")" >"$work/known-changed/.ssh/known_hosts"
printf '#!/bin/sh\nprintf "%%s\\n" "$BENCH_ASKPASS_TEXT"\n' >"$work/askpass.sh"
chmod 0755 "$work/askpass.sh"

if [ "$wine" = 1 ]; then
# A server left over from an earlier run of this prefix goes first.
"$wineserver64" -k >/dev/null 2>&1 || true
for p in $(prefix_processes); do kill "$p" 2>/dev/null || true; done
if [ ! -f "$WINEPREFIX/.tavrin-ready" ]; then
  echo "bench: creating the Wine prefix"
  timeout 300 "$wine64" wineboot -i >/dev/null 2>&1 || true
  timeout 120 "$wineserver64" -w 2>/dev/null || true
  touch "$WINEPREFIX/.tavrin-ready"
fi
"$wineserver64" -f -p >/dev/null 2>&1 &
wineserver_pid=$!
"$wine64" regsvr32 /s "$(winpath "$dll")"
registered=1
# The prefix's background processes start with its first program: wait until the Wine server
# has been idle (at most one tick of CPU time in a second) for three seconds in a row.
"$wine64" cmd /c exit >/dev/null 2>&1 || true
quiet=0
for _ in $(seq 60); do
  before=$(cpu_ticks "$wineserver_pid"); sleep 1; after=$(cpu_ticks "$wineserver_pid")
  if [ $(( after - before )) -le 1 ]; then quiet=$(( quiet + 1 )); else quiet=0; fi
  [ "$quiet" -ge 3 ] && break
done
fi

if [ -n "$quiet_load" ]; then
  for _ in $(seq 120); do
    awk -v l="$quiet_load" '{exit !($1 < l)}' /proc/loadavg && break
    sleep 5
  done
fi

# ------------------------------------------------------------------ measurements
bench_args=(
  --fixture-env "$fixture/env" --sshd-pidfile "$fixture/sshd.pid" --sshd-log "$fixture/sshd.log"
  --native-host "$native_host" --com-host "$com_host" --tavrin-check "$tavrin_check"
  --wine-loader "$wine64" --wineprefix "$WINEPREFIX" --wineserver-pid "${wineserver_pid:-0}"
  --plain-key "$keys/id_ed25519_plain" --pp-key "$keys/id_ed25519_pp" --askpass "$work/askpass.sh"
  --known-hosts-dir "$work/known" --changed-known-hosts-dir "$work/known-changed"
  --results "$work/results${libssh_prefix:+-variant}.md" --checks "$checks" --warmup "$warmup" --soak "$soak"
  --threads "$threads" --per-thread "$per_thread" --fault-timeout "$fault_timeout" --sections "$sections"
  --reuse-checks "$reuse_checks" --kill-every "$kill_every" --idle-links "$idle_links" --idle-seconds "$idle_seconds"
)
# A private mount namespace whose resolver is 127.0.0.1 (bench.py answers there), so that
# the unknown-host case looks the name up without leaving the machine.
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$work/resolv.conf"
status=0
if unshare -m --propagation private true 2>/dev/null; then
  unshare -m --propagation private bash -c 'mount --bind "$1" /etc/resolv.conf && shift && exec "$@"' \
    bench "$work/resolv.conf" /usr/bin/python3 bench/bench.py "${bench_args[@]}" || status=$?
else
  echo "bench: no private mount namespace here; the unknown-host case is skipped"
  /usr/bin/python3 bench/bench.py "${bench_args[@]}" || status=$?
fi

if [ "$fuzz" != 0 ]; then
  echo
  echo "== Fuzzing: each libFuzzer target for ${fuzz} s (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  bash scripts/fuzz.sh "$fuzz" || status=1
fi
exit $status
