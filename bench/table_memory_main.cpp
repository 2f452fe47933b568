// chipsight_table_memory DIR: loads the databases in DIR as the program does and prints how
// much resident memory that added at most and how much stays, in bytes. Run as a process of
// its own, so no memory that an earlier measurement freed can hide in the figures.
#include <cstdio>

#include "bench/bench_support.h"

int main(int argc, char** argv) {
    if (argc != 2 || !bench::resetPeak()) return 2;
    const std::size_t before = bench::residentBytes();
    bench::QuietCore quiet(argv[1]);
    quiet.core.loadDatabases();
    const std::size_t peak = bench::peakResidentBytes() - before;
    const std::size_t retained = bench::residentBytes() - before;
    std::printf("%zu %zu %zu\n", quiet.core.entries().size(), peak, retained);
    return quiet.frontEnd.boxes == 0 ? 0 : 1;
}
