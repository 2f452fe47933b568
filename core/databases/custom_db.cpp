// The custom database file: one locked open, realign, write, flush and close per added record.
#include "core/databases/custom_db.h"

#include "core/sys/file_layer.h"

namespace chipsight {
namespace {

// Takes back what this append wrote, while the lock is still held: the file returns to
// `length`, and a file that this append created goes away again. True when that worked.
bool undo(File& file, const std::string& path, std::uint64_t length) {
    try {
        file.truncate(length);
    } catch (const FileError&) {
        return false;
    }
    // Nobody can see the record any more; getting that to the disk too is worth a try.
    try {
        file.sync();
    } catch (const FileError&) {
    }
    if (file.created() && length == 0) removeFile(path);
    return true;
}

}  // namespace

AppendResult appendRecord(const std::string& path, const RomEntry& entry) {
    auto file = File::open(path, File::Mode::Append);
    if (!file) return AppendResult::CannotOpen;
    // Measured under the lock: whatever another copy appended before is part of it.
    const std::uint64_t whole = file->length() - file->length() % RomEntry::kSize;
    const auto bytes = entry.encode();
    bool written = false;
    try {
        if (whole != file->length()) file->truncate(whole);
        file->seek(whole);
        file->write(bytes.data(), bytes.size());
        written = true;
        file->sync();
        if (file->created()) syncDirectoryOf(path);
        file->closeKeepingLockOnFailure();
    } catch (const FileError&) {
        // Only this append's own bytes are taken back, and only while nobody else can have
        // written after them. Should even that fail with the whole record written, the record
        // stays, and the user is told it was added, since that is what the file then holds.
        if (undo(*file, path, whole) || !written) return AppendResult::WriteFailed;
    }
    return AppendResult::Added;
}

}  // namespace chipsight
