// Timing a command-line run from the cache its first run makes, shared by the benchmarks that
// start chipsight-cli on a database.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace bench {

// Times `command`, which finds nothing it is asked for (exit status 1), after a first run that
// makes the cache; then runs it once more for the most memory it takes, next to `limit` bytes
// when that is above 0.
inline void timeCachedRuns(benchmark::State& state, const std::vector<std::string>& command,
                           double limit) {
    if (runProgram(command) != 1) return state.SkipWithError("chipsight-cli failed");
    for (auto _ : state)
        if (runProgram(command) != 1) return state.SkipWithError("chipsight-cli failed");
    std::size_t peak = 0;
    if (runProgram(command, "/dev/null", &peak) != 1)
        return state.SkipWithError("chipsight-cli failed");
    state.counters["peak_bytes"] = double(peak);
    if (limit > 0) state.counters["limit_bytes"] = limit;
}

}  // namespace bench
