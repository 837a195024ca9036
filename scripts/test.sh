#!/usr/bin/env bash
# The whole test run, from a fresh machine: installs what is missing, builds the three targets
# (Linux, Windows 64-bit, Windows 32-bit) and runs every test, natively, under the sanitizers,
# the fuzzers briefly, and the Windows builds under Wine.
#   scripts/test.sh            everything
#   TAVRIN_SKIP_WIN32=1 ...    leave out the 32-bit Windows build (quicker while developing)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${TAVRIN_JOBS:-2}
started=$(date +%s)

bash scripts/setup.sh || { echo "test: set-up failed"; exit 1; }
# The test servers include a newer OpenSSH, built once from Debian's sources (about a minute).
bash scripts/build-openssh.sh >/dev/null || { echo "test: the test servers' OpenSSH could not be built"; exit 1; }

passed=0 failed=0
declare -a failures=()
phase() {  # phase NAME COMMAND...
  local name=$1; shift
  local t0; t0=$(date +%s)
  echo "=== $name"
  if "$@"; then
    echo "=== $name: ok ($(( $(date +%s) - t0 ))s)"
  else
    echo "=== $name: FAILED ($(( $(date +%s) - t0 ))s)"
    failures+=("$name")
  fi
}

# ctest_counted PRESET_DIR [ctest args]: runs ctest and adds its counts to the totals.
ctest_counted() {
  local dir=$1; shift
  local log; log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line; line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    local total failed_n
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    failed_n=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$(( passed + total - failed_n )); failed=$(( failed + failed_n ))
  elif [ "$rc" -ne 0 ]; then
    failed=$(( failed + 1 ))
  fi
  rm -f "$log"
  return "$rc"
}

build() {  # build PRESET
  cmake --preset "$1" >"build/configure-$1.log" 2>&1 || { tail -n 40 "build/configure-$1.log"; return 1; }
  cmake --build --preset "$1" -j "$jobs"
}

# The dialog tests need an X server: one of our own for the Windows test phases.
xvfb_pid=
start_display() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$(( n + 1 )); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
}
stop_display() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; }
trap stop_display EXIT

mkdir -p build
phase "linux: build" build linux
phase "linux: tests" ctest_counted build/linux -j "$jobs"
phase "linux-asan: build" build linux-asan
phase "linux-asan: unit tests" ctest_counted build/linux-asan -L unit -j "$jobs"
phase "fuzz: build and run briefly" bash scripts/fuzz.sh 5
phase "win64: build" build win64
start_display
phase "win64: tests under Wine" ctest_counted build/win64
# Some machines' kernels run no 32-bit programs (their 32-bit emulation is off: the kernel says
# "32-bit emulation disabled"), so neither Wine's 32-bit loader nor the 32-bit installer program
# can start there. The 32-bit build and the release are still made; the phases that would have
# to run 32-bit code are reported as skipped, saying why.
runs_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
if [ "${TAVRIN_SKIP_WIN32:-0}" != 1 ]; then
  phase "win32: build" build win32
  if runs_32bit; then
    phase "win32: tests under Wine" ctest_counted build/win32
    phase "both bitnesses registered, then each removed" \
      bash tests/wine/both-bitnesses.sh build/win64/plugin/com/comTavrin.dll build/win32/plugin/com/comTavrin.dll
  else
    skipped_32bit="win32 tests under Wine, both bitnesses, the 32-bit parts of the release tests"
    echo "=== SKIPPED ($skipped_32bit): this machine's kernel runs no 32-bit programs"
  fi
  # The release tests skip what needs 32-bit programs by themselves.
  phase "release: signed installer, MSI and zip under Wine" bash tests/installer/test-installer.sh
fi

echo
echo "test: $(( $(date +%s) - started ))s in all"
if [ "${#failures[@]}" -gt 0 ]; then
  printf 'test: failed phase: %s\n' "${failures[@]}"
fi
if [ -n "${skipped_32bit:-}" ]; then
  echo "test: skipped, as this machine runs no 32-bit programs: $skipped_32bit"
fi
echo "total: $passed passed, $failed failed"
[ "${#failures[@]}" -eq 0 ] && [ "$failed" -eq 0 ]
