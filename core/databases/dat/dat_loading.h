// Reading one DAT file into a store of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <sys/stat.h>

#include "core/databases/dat/dat_store.h"

namespace chipsight {

// What a DAT file is, as far as the cache can tell: a file with the same identity holds the
// same bytes, and can be read as before (a change of its permissions changes its status-change
// time), unless it was written too soon after it was read for its times to show it (see
// mayHaveChangedUnseen).
struct DatIdentity {
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0, changedNanoseconds = 0;
    std::uint64_t inode = 0, device = 0;
    bool operator==(const DatIdentity&) const = default;
};

// The identity of the file at `path` now (links followed); none when it has no status.
std::optional<DatIdentity> datIdentityOf(const std::string& path);
// The identity of a file of status `st`.
DatIdentity datIdentityOf(const struct stat& st);

struct LoadedDat {
    std::string path;
    DatFormat format = DatFormat::None;
    std::shared_ptr<const DatStore> store;  // none for a file of no known format, or a failure
    bool fromCache = false;
    DatIdentity identity;  // of the file as it was when the load began
    // The time (nanoseconds since 1970) before which the bytes were read: the file held them
    // then or later.
    std::int64_t readSince = 0;
    // How many of the file's bytes, from its start, the load was made of, and their CRC-32.
    std::uint64_t contentBytes = 0;
    std::uint32_t contentCrc = 0;
    double seconds = 0;
    // For a file that could not be read or is malformed: where and why, e.g.
    // "line 12: unclosed <rom> element". Empty otherwise.
    std::string failure;
};

// The failure of a DAT too large for this memory.
inline constexpr const char* kOutOfMemory = "out of memory";

// Reads the DAT at `path`. `progress`, when given, hears now and then how many bytes of the
// file have been read.
LoadedDat loadDat(const std::string& path, const std::function<void(std::uint64_t)>& progress = {});

// The time now, in nanoseconds since 1970, as file times are given.
std::int64_t timeNow();

// Whether a file of `identity` may have been written after `readSince` without its identity
// showing it: a file system stamps times in steps (of two seconds on FAT, one on many others),
// and a write in the step of the file's last one leaves its times as they were. So a file whose
// last write or change lies within a step of the read (or after it) is not known by its
// identity alone.
bool mayHaveChangedUnseen(const DatIdentity& identity, std::int64_t readSince);

// Whether the file at `path` still starts with the bytes `dat` was made of.
bool holdsTheSameBytes(const std::string& path, const LoadedDat& dat);

}  // namespace chipsight
