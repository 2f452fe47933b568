// Archives as a source of images: the regular files inside a zip, 7z or tar archive (plain or
// compressed with gzip, xz or bzip2) or inside a single compressed stream, one after another.
#pragma once

#include <locale.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/input/image_file.h"

namespace chipsight {

// The most bytes one archive is unpacked to. The size a member's header claims proves nothing,
// so what is counted is the bytes actually unpacked (of a gzip file, every byte it inflates to).
// Memory does not depend on it (members are checksummed as they stream, whether their length is
// known ahead or not, and at most one member is held whole, for the doctor); what it bounds is
// the time an archive bomb could take, which unpacks a few kilobytes into terabytes.
inline constexpr std::uint64_t kMaxUnpacked = std::uint64_t(16) << 30;

// Whether the first bytes of a file, `head` (512 of them when the file has as many), carry the
// signature of a format that readArchive opens. A file that has one may still be no archive.
bool looksLikeArchive(std::span<const std::uint8_t> head);

// While it lives, the calling thread's character set is UTF-8 (the rest of its locale is left as
// it was). libarchive gives and takes names in that character set, and drops a name it cannot
// convert: under the C locale, every name that is not ASCII.
class Utf8Names {
  public:
    Utf8Names();
    ~Utf8Names();
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

  private:
    locale_t utf8_ = locale_t(0), previous_ = locale_t(0);
};

// One regular file inside an archive.
struct ArchiveMember {
    // Its path inside the archive, as the archive gives it; nothing is ever written there.
    std::string path;
    // Read, NotPowerOfTwo, TooLarge or OutOfMemory (its bytes were asked for, and a length
    // claimed ahead that memory cannot hold).
    ImageFile image;
    // Its bytes, when they were asked for and memory allowed (when its length is known only at
    // its end, no more than kKeepBytesAtMost of them); else empty.
    std::vector<std::uint8_t> bytes;
    bool bytesKept = false;
};

// How reading an archive ended.
enum class ArchiveEnd {
    CannotOpen,  // the file cannot be opened (as for an image)
    // No member's header could be read (for a single compressed stream, none of its data): it
    // only looks like an archive.
    NotAnArchive,
    Done,  // every member was handed on
    // A member or a header after the first could not be read, a checksum did not match, or the
    // archive is not whole (a zip without its central directory).
    Damaged,
    TooLarge,  // it unpacks to more than kMaxUnpacked bytes
};

// Opens the file at `path` through the file layer as an archive and hands each member that is a
// regular file to `member`, in archive order, with its digest at `splitLevel` levels and, when
// `keepBytes` is set, its bytes. Links, directories and devices are passed over; archives
// inside are members like any other. NotAnArchive comes with no member handed on. A gzip file is
// checked whole before its first member is handed on: one whose checksums do not match is
// Damaged with none. Unpacking stops at `limit` bytes in all. With `anyLength`, a member whose
// length is not a power of two is unpacked too (a collection of ROMs holds such), and comes as
// NotPowerOfTwo with its length, no digest, and its bytes when `keepBytes`. Without it, a member
// whose length is told ahead, and which starts with a known header, is taken by the bytes after
// the header as readImageFile takes a file.
ArchiveEnd readArchive(const std::string& path, int splitLevel, bool keepBytes,
                       const std::function<void(ArchiveMember&)>& member,
                       std::uint64_t limit = kMaxUnpacked, bool anyLength = false);

}  // namespace chipsight
