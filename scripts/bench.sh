#!/usr/bin/env bash
# Builds the host benchmarks, runs every one of them, measures the started
# service (idle CPU and wake-ups, CPU per MB pulled) and prints one table:
# figure, goal, measured, baseline, ratio, met. Figures on a busy machine are
# noisy; the full run is not part of the test run.
#
#   scripts/bench.sh            the figures (a few minutes; on a quiet machine)
#   scripts/bench.sh --smoke    every benchmark and measurement for a token
#                               time: the table must come out with a figure in
#                               every row (scripts/test.sh runs it); nothing is judged
# Exits with 1 when a row of the table has no figure.
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=()
benchmark_options=()
if [ "${1:-}" = --smoke ]; then
  smoke=(--smoke)
  benchmark_options=(--benchmark_min_time=0.05)
  # The benchmarks with a minimum time or iteration count of their own take a token one too.
  export PAGEWICK_BENCH_SMOKE=1
elif [ $# -gt 0 ]; then
  echo "usage: scripts/bench.sh [--smoke]" >&2
  exit 2
fi

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
  build/host/tests/bench/"$benchmark" "${benchmark_options[@]}" --benchmark_out="$out/$benchmark.json" \
    --benchmark_out_format=json >"$out/$benchmark.txt"
done
echo "measuring the started service" >&2
# The rows of pagewick.exe under Wine, from the last run of scripts/wine-bench.sh.
wine=()
if [ -z "${smoke[*]}" ] && [ -f build/win32/wine-bench.txt ]; then wine=(--wine build/win32/wine-bench.txt); fi
python3 scripts/bench-table.py --json "$out" --tools build/host/tools "${smoke[@]}" "${wine[@]}"
