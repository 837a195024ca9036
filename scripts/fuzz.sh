#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds (default 60).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# The targets and their longest inputs come from fuzz/CMakeLists.txt (written to
# <build>/fuzz/targets.txt at configure time); without TARGET arguments every one runs. Each
# target keeps its corpus in <build>/corpus/<target>, starts from fuzz/seeds/<target> when that
# exists, and writes its log to <build>/<target>.log and what it finds to <build>/artifacts/.
# FUZZ_BUILD_DIR chooses the build folder (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-build/fuzz}
cmake --preset fuzz -B "$build" >/dev/null

declare -A max_len=()
targets=()
while read -r name length; do
  [[ -n "$name" ]] || continue
  max_len[$name]=$length
  targets+=("$name")
done <"$build/fuzz/targets.txt"
if [[ $# -gt 0 ]]; then
  for target in "$@"; do
    [[ -n "${max_len[$target]:-}" ]] || { echo "fuzz: no target $target in fuzz/CMakeLists.txt" >&2; exit 2; }
  done
  targets=("$@")
fi

# What a failed run's log says about why: the report from its first line (a sanitizer's or
# libFuzzer's), which a stack trace and the final statistics would push out of a plain tail, and
# where the input was written; the log's end when it holds no report.
show_failure() {
  local log=$1 first
  first=$(grep -n -m 1 -E '^==[0-9]+==|ERROR: libFuzzer|^ALARM:|^fuzz_|^Out-of-memory|-- (ERROR|FAILURE)' "$log" | cut -d: -f1 || true)
  if [[ -n "$first" ]]; then
    tail -n "+$first" "$log" | grep -v '^stat::' | head -n 80 || true
    grep -E '^(SUMMARY|artifact_prefix|Test unit written|Base64: )' "$log" | tail -n 4 || true
  else
    tail -n 40 "$log"
  fi
}

cmake --build "$build" --target "${targets[@]}" -j2
mkdir -p "$build/artifacts"
status=0
started=$SECONDS
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  inputs=("$corpus")
  [[ -d fuzz/seeds/$target ]] && inputs+=("fuzz/seeds/$target")
  log=$build/$target.log
  if "$build/fuzz/$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "${inputs[@]}" >"$log" 2>&1; then
    runs=$(awk '/^stat::number_of_executed_units/ {print $2}' "$log")
    echo "fuzz: $target ran ${seconds}s, ${runs:-?} executions, no crash"
  else
    rc=$?
    echo "fuzz: $target FAILED with exit status $rc (log: $log)"
    show_failure "$log"
    status=1
  fi
done
echo "fuzz: ${#targets[@]} targets in $((SECONDS - started))s"
exit $status
