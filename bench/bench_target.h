// The time a benchmark must stay within, reported beside its result (the counter
// "target_ns"), so scripts/bench.sh can set figure and target side by side. Benchmarks shown
// only for scale have none.
#pragma once

#include <benchmark/benchmark.h>

namespace bench {

inline void SetTargetNs(benchmark::State& state, double nanoseconds) {
  state.counters["target_ns"] = benchmark::Counter(nanoseconds);
}

}  // namespace bench
