#pragma once
// How long a benchmark runs: its own minimum time or iteration count, or a
// token one in a smoke run (PAGEWICK_BENCH_SMOKE set, as scripts/bench.sh
// --smoke does), which only shows that every figure still comes out.
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace pw::bench {

inline bool SmokeRun() {
  const char* value = std::getenv("PAGEWICK_BENCH_SMOKE");
  return value != nullptr && *value != '\0' && *value != '0';
}

inline double MinSeconds(double seconds) { return SmokeRun() ? 0.05 : seconds; }

inline benchmark::IterationCount RunIterations(benchmark::IterationCount count) { return SmokeRun() ? 2 : count; }

}  // namespace pw::bench
