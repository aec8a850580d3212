#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for SECONDS (default
# 60) from the committed seeds, within 512 MiB and 5 s an input. A crash, leak,
# timeout or out-of-memory fails the run; the input that caused it is kept in
# build-fuzz/artifacts/ and belongs in fuzz/regressions/<target>/ once mended.
#   bash fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/artifacts
status=0
for target in world colors pipeline thumbnail; do
  mkdir -p "$work/$target"
  log=build-fuzz/fuzz_$target.log
  if build-fuzz/fuzz_$target -max_total_time="$seconds" -rss_limit_mb=512 -timeout=5 \
       -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
       "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
    echo "fuzz_$target: $runs inputs in ${seconds} s, $coverage, no fault"
  else
    echo "fuzz_$target: FAULT (log: $log)"
    grep -E "ERROR|SUMMARY|Test unit written" "$log" || tail -n 30 "$log"
    status=1
  fi
done
exit $status
