// Appending one record to the custom database file without ever leaving it off its grid.
#pragma once

#include <string>

#include "core/databases/rom_database.h"

namespace chipsight {

enum class AppendResult { Added, CannotOpen, WriteFailed };

// Appends `entry` at the end of the file at `path`, creating it when missing, under the file's
// exclusive lock. A trailing partial record (left by an earlier failure) is cut away first;
// after a failed write, flush or close the file is cut back, before the lock is let go, to the
// length it had, so it always holds whole records and exactly those the callers were told were
// added. A symbolic link at `path` is refused.
AppendResult appendRecord(const std::string& path, const RomEntry& entry);

}  // namespace chipsight
