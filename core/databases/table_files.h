// Reading the program's own table files (CHIPLORE.ROM and .GAM, Chipsight.dat), with the runs
// of their records compiled in the cache, so that a start with a million of them maps an index
// instead of making one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/databases/indexed_run.h"

namespace chipsight {

// The content of the file at `path`, its whole records of `recordSize` bytes (or all of it
// when `recordSize` is 1): nothing when it cannot be opened; `complete` is false when fewer
// bytes arrived than asked for. A file that a writer holds for too long, or that is larger than
// the machine's memory, counts as opened and not read in full: it exists, so the user hears of it.
struct WholeFile {
    bool opened = false;
    bool complete = false;
    // Not cleared before the read: every byte that counts is one that arrived.
    std::shared_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
};
WholeFile readWholeFile(const std::string& path, std::size_t recordSize = 1);

// The run of the `count` chip records `roms`: its index compiled in `cacheFile` for exactly
// these records (known by their checksum), or made now and compiled there for the next start.
// Throws std::bad_alloc when there is no memory to make it.
std::shared_ptr<const IndexedRun> chipRun(const std::string& cacheFile,
                                          std::shared_ptr<const std::uint8_t[]> roms,
                                          std::size_t count);

// The records of the custom file. The file is only ever appended to, so its compiled run (its
// records and their index) stands for the start of a file that is the same file grown, and only
// what was appended since is read.
struct CustomRecords {
    bool opened = false, complete = false;
    // The compiled start of the file, or every record read when no compiled run stood for it.
    std::shared_ptr<const IndexedRun> run;
    // The whole records read after the run, or all of them when no run could be made.
    std::shared_ptr<std::uint8_t[]> rest;
    std::size_t restCount = 0;
};
CustomRecords readCustomRecords(const std::string& path, const std::string& cacheFile);

}  // namespace chipsight
