// The command line of chipsight-cli: what it asks for, read with CLI11, and its usage errors in
// the program's own words.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/identify/identify.h"

namespace chipsight::cli {

// What the command line asks for.
struct Options {
    std::string dbDir;
    std::vector<std::string> dats;
    bool listDatabases = false;
    int splitLevel = 1;
    bool noIgnoreBad = false, crlf = false, doctor = false, recursive = false, json = false;
    bool readsAnd = false;  // --reads-rule and
    std::string writeSet;   // --write-set: the folder a board's best set is written into
    bool force = false;     // --force: a file already there is replaced
    std::string burn;       // --burn: the folder a board's images to burn are written into
    std::string eprom;      // --eprom: the part they are fitted to
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> files;
    std::vector<std::vector<std::string>> readGroups, manual, additions, boards;
    std::vector<TypedHash> manualHashes;                // --manual-hash, in order
    std::vector<std::string> collection;                // --collection: the user's ROM sets
    std::uint64_t cacheLimit = std::uint64_t(2) << 30;  // --cache-limit, in bytes
};

// Reads the command line into `o`; an exit status when the program ends here (help, version,
// a usage error).
std::optional<int> parseOptions(int argc, char** argv, Options& o);

}  // namespace chipsight::cli
