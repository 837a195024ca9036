#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given number of seconds (default 60).
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzz_getfield fuzz_base64 fuzz_numbers fuzz_verdict -j2
status=0
for target in fuzz_getfield fuzz_base64 fuzz_numbers fuzz_verdict; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  log=build/fuzz/$target.log
  if build/fuzz/fuzz/$target -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "fuzz: $target ran ${seconds}s, ${runs:-?} executions, no crash"
  else
    echo "fuzz: $target FAILED"; tail -40 "$log"; status=1
  fi
done
exit $status
