// chipsight_identify_files DIR LEVEL FILE...: loads the databases in DIR as the program does,
// then identifies every FILE at split level LEVEL, and prints how many were identified without
// a failure and the seconds the identifications took (loading not counted). Run as a process of
// its own, so the lookups find the index as a fresh start of the program leaves it.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    bench::QuietCore quiet(argv[1]);
    quiet.core.loadDatabases();
    quiet.core.setSplitLevel(std::atoi(argv[2]));
    std::size_t identified = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 3; i < argc; ++i)
        identified += quiet.core.identifyFile(argv[i]) != chipsight::Outcome::Failed;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%zu %.9f\n", identified, took.count());
    return quiet.frontEnd.boxes == 0 ? 0 : 1;
}
