#!/usr/bin/env bash
# Builds the host benchmarks, runs every one of them, measures the started
# service (idle CPU and wake-ups, CPU per MB pulled) and prints one table:
# figure, goal, measured, baseline, ratio, met. Figures on a busy machine are
# noisy; the script is not part of the test run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh host

benchmarks=()
for source in tests/bench/*.cpp; do benchmarks+=("$(basename "$source" .cpp)"); done
cmake --preset host >/dev/null
cmake --build --preset host -j 2 --target "${benchmarks[@]}" pagewick pagewick-sc pagewick-scanner-sim

out=build/host/bench-results
rm -rf "$out"
mkdir -p "$out"
for benchmark in "${benchmarks[@]}"; do
  echo "running $benchmark" >&2
  build/host/tests/bench/"$benchmark" --benchmark_out="$out/$benchmark.json" --benchmark_out_format=json \
    >"$out/$benchmark.txt"
done
echo "measuring the started service" >&2
python3 scripts/bench-table.py --json "$out" --tools build/host/tools
