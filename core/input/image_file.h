// Reading an image file for identification, apart from reporting it: what the file gave, with
// no front end involved, so that files can be read on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/checksum/image_digest.h"
#include "core/input/headers.h"

namespace chipsight {

// How reading an image file ended.
enum class ImageStatus {
    CannotOpen,     // missing, refused, not a regular file, or held by a writer
    TooLarge,       // 4 GiB or more: the database's sizes are 32-bit
    NotPowerOfTwo,  // a length that identification refuses
    ReadFailed,     // fewer bytes arrived than the length, or the file changed while read
    OutOfMemory,    // no buffer could be had to read it into
    Read,           // read whole: the digest holds every byte
};

struct ImageFile {
    ImageStatus status = ImageStatus::CannotOpen;
    // The bytes identified: those after the header, when there is one.
    std::uint32_t length = 0;
    // The known header the file starts with, left out of the digest and of the kept bytes; null
    // for a file identified whole.
    const KnownHeader* header = nullptr;
    // The digest at `splitLevel` levels of the bytes read; finished only when status is Read.
    ImageDigest digest{0, 0};
    // The file carries an archive's signature and was asked to be looked at for one: it is for
    // readArchive to open. A file of a length an image may have is digested all the same (a
    // dump may start as an archive does), and status says how; of any other, nothing was read.
    bool archive = false;
};

// The most bytes of an image kept for what needs them after its digest (the doctor, a record):
// a larger image is identified without them.
inline constexpr std::uint32_t kKeepBytesAtMost = 64 << 20;

// Read when an image of `length` bytes is one identification admits, else TooLarge or
// NotPowerOfTwo.
ImageStatus lengthStatus(std::uint64_t length);

// Opens the file at `path` under a shared lock and, when its length is one identification
// admits, takes its digest at `splitLevel` levels, each byte read once: a large file from a
// mapping of it, a smaller one read piece by piece into a buffer of the calling thread's. A file
// that is cut short, grown or written to while it is read gives ReadFailed, never a digest of bytes
// from before and after the change. Safe to call from several threads at once. With
// `findArchives`, a file whose first bytes look like an archive's comes back marked as one; the
// bytes looked at are those read for the digest anyway, except for a file of a length that
// identification refuses, which costs one more read. A file of an image's length is digested
// whether it looks like an archive or not. A file of a length that identification refuses, which
// starts with a known header after which the length is one it admits, is identified by the
// bytes after the header; telling it costs that one read too. With `keep`, an image of up to
// 64 MiB is read into it, resized to the length identified, and not mapped: for a buffer kept from
// image to image, whose memory then needs no clearing. It holds the image's bytes when the status
// is Read and its size is the length; a larger image, or one it finds no memory for, is read as
// without it, and it is left empty.
ImageFile readImageFile(const std::string& path, int splitLevel, bool findArchives = false,
                        std::vector<std::uint8_t>* keep = nullptr);

}  // namespace chipsight
