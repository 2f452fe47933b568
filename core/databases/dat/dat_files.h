// Which files hold DAT databases: the DAT-like files directly in the database directory, every
// one in its `dats` directory and below, and those named by the user.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/databases/dat/dat_loading.h"

namespace chipsight {

// True for a name ending in .xml, .dat, .xml.gz or .dat.gz, in any letter case.
bool hasDatName(std::string_view name);

// A DAT file found, with its identity as it was found; none when it had no status.
struct DatFile {
    std::string path;
    std::optional<DatIdentity> identity;
};

// The file at `path`, with its identity now.
DatFile datFileAt(const std::string& path);

// The DAT files to load, in byte order of their paths: the files directly in `databaseDir` with
// a DAT name (but not the custom database `customName`, in any case), every file with a DAT
// name in `databaseDir/dats` and the directories below it, and for each of `extra` the file
// itself (whatever its name) or, for a directory, the DAT files in it and below. Links are
// followed, and a directory reached twice is walked once, so a link loop ends. A file reached
// by several paths (a link to it, a linked directory, a second name) is one file, found by the
// first of them, so its entries are not loaded twice. What cannot be read is passed over.
std::vector<DatFile> findDatFiles(const std::string& databaseDir, const std::string& customName,
                                  const std::vector<std::string>& extra = {});

}  // namespace chipsight
