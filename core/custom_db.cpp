// The custom database file: one open, realign, write, flush and close per added record.
#include "core/custom_db.h"

#include "core/file_layer.h"

namespace chipsight {
namespace {

// Puts the file back at `length` after a failure, best effort: the caller reports the
// failure whatever this achieves.
void restoreLength(File& file, std::uint64_t length) {
    try {
        file.truncate(length);
    } catch (const FileError&) {
    }
}

}  // namespace

AppendResult appendRecord(const std::string& path, const RomEntry& entry) {
    auto file = File::open(path, File::Mode::ReadWriteCreate);
    if (!file) return AppendResult::CannotOpen;
    const std::uint64_t whole = file->length() - file->length() % RomEntry::kSize;
    const auto bytes = entry.encode();
    try {
        if (whole != file->length()) file->truncate(whole);
        file->seekEnd();
        file->write(bytes.data(), bytes.size());
        file->sync();
    } catch (const FileError&) {
        restoreLength(*file, whole);
        return AppendResult::WriteFailed;
    }
    try {
        file->close();
    } catch (const FileError&) {
        // The descriptor is gone; take the record back out through a fresh open so that
        // the file matches what the user is told.
        if (auto again = File::open(path, File::Mode::ReadWriteCreate)) restoreLength(*again, whole);
        return AppendResult::WriteFailed;
    }
    return AppendResult::Added;
}

}  // namespace chipsight
