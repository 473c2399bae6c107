#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, warnings as errors) and runs each over
# its seed corpus (tests/fuzz/corpus/<name>) and then on new input for the
# given seconds (default 60). The fuzzers run at once; new inputs they find go
# to build/fuzz/runs, never into the seed corpus.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target AgentMessageFuzz ImagingLoadFuzz ProfileReaderFuzz

declare -A corpus=([AgentMessageFuzz]=agent [ImagingLoadFuzz]=imaging [ProfileReaderFuzz]=profile)
runs=build/fuzz/runs
rm -rf "$runs"
declare -A pids
for fuzzer in "${!corpus[@]}"; do
  mkdir -p "$runs/$fuzzer/found"
  build/fuzz/tests/fuzz/"$fuzzer" "$runs/$fuzzer/found" "tests/fuzz/corpus/${corpus[$fuzzer]}" \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$runs/$fuzzer/" \
    >"$runs/$fuzzer.log" 2>&1 &
  pids[$fuzzer]=$!
done

status=0
for fuzzer in $(printf '%s\n' "${!corpus[@]}" | sort); do
  if wait "${pids[$fuzzer]}"; then
    executed=$(grep -ho 'stat::number_of_executed_units: *[0-9]*' "$runs/$fuzzer.log" | grep -o '[0-9]*$' || echo 0)
    seeds=$(find "tests/fuzz/corpus/${corpus[$fuzzer]}" -type f | wc -l)
    echo "fuzz: $fuzzer ran $executed inputs ($seeds seeds, then ${seconds} s of new input), 0 crashes"
  else
    status=1
    echo "fuzz: $fuzzer FAILED; its log ends:"
    tail -n 40 "$runs/$fuzzer.log"
    ls "$runs/$fuzzer"/crash-* "$runs/$fuzzer"/leak-* "$runs/$fuzzer"/timeout-* 2>/dev/null || true
  fi
done
exit "$status"
