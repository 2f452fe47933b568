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

// The records of a table file, of `shape`: the run compiled in `cacheFile` when it stands for
// the file as it is (the same file, unchanged since, by its identity), else every whole record
// read, made into a run and compiled there for the next start. A file that `grows` (the custom
// file, only ever appended to) may also have grown since: the compiled run then stands for its
// start, and only what was appended is read.
struct TableRecords {
    bool opened = false, complete = false;
    // The compiled start of the file, or every record read when no compiled run stood for it.
    std::shared_ptr<const IndexedRun> run;
    // The whole records read after the run, or all of them when no run could be made.
    std::shared_ptr<std::uint8_t[]> rest;
    std::size_t restCount = 0;
    std::size_t records() const { return (run ? run->size() : 0) + restCount; }
};
TableRecords readTableRecords(const std::string& path, const std::string& cacheFile,
                              RecordShape shape, bool grows);

}  // namespace chipsight
