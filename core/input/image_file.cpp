// Large images mapped and digested in place, smaller ones read in pieces into one reused buffer
// per thread; each piece digested while it is in the cache.
#include "core/input/image_file.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "core/input/archive.h"
#include "core/sys/file_layer.h"

namespace chipsight {
namespace {

// From this length on an image is mapped rather than read: the checksum then reads the page
// cache itself, where reading copies every byte once more. Below it, mapping and unmapping cost
// more than the copy does.
constexpr std::uint32_t kMapAtLeast = 2 << 20;

// A piece: small enough that it is still in the second-level cache when the checksum reads it
// after the kernel has copied it in, large enough that reading it costs one call of many.
constexpr std::size_t kPiece = 256 << 10;

// The buffer pieces are read into on the calling thread, made on its first image and kept: a
// fresh buffer for each image would have the kernel hand out and clear new pages each time. It
// is aligned to a page, which the kernel copies into several times as fast as into a buffer
// that is not.
std::uint8_t* pieceBuffer() {
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    thread_local std::unique_ptr<std::uint8_t, Free> buffer;
    if (!buffer) buffer.reset(static_cast<std::uint8_t*>(std::aligned_alloc(4096, kPiece)));
    if (!buffer) throw std::bad_alloc();
    return buffer.get();
}

}  // namespace

ImageStatus lengthStatus(std::uint64_t length) {
    // A length of 4 GiB or more does not fit the 32-bit sizes of the database.
    if (length > 0xFFFFFFFFull) return ImageStatus::TooLarge;
    return (length & (length - 1)) != 0 ? ImageStatus::NotPowerOfTwo : ImageStatus::Read;
}

// The bytes an archive is told by, at most.
constexpr std::size_t kHead = 512;
static_assert(kLongestHeader <= kHead, "a header is told by the bytes read for an archive");

ImageFile readImageFile(const std::string& path, int splitLevel, bool findArchives,
                        std::vector<std::uint8_t>* keep) {
    ImageFile image;
    auto file = File::open(path, File::Mode::Read);
    if (!file) return image;
    const std::uint64_t length = file->length();
    image.status = lengthStatus(length);
    // The first bytes tell an archive or a known header, when the length is not an image's.
    std::uint8_t head[kHead];
    std::size_t got = 0;
    if (image.status == ImageStatus::NotPowerOfTwo ||
        (findArchives && image.status != ImageStatus::Read))
        got = file->read(head, kHead);
    // An archive's length is seldom one an image may have: such a file is looked at first.
    if (findArchives && image.status != ImageStatus::Read && looksLikeArchive({head, got})) {
        image.archive = true;
        return image;
    }
    if (image.status == ImageStatus::TooLarge) return image;
    image.length = std::uint32_t(length);
    if (image.status == ImageStatus::NotPowerOfTwo) {
        image.header = knownHeaderOf({head, got}, length);
        if (!image.header) return image;
        image.length -= image.header->bytes;
        image.status = ImageStatus::ReadFailed;
        try {
            file->seek(image.header->bytes);
        } catch (const FileError&) {
            return image;
        }
    }
    const std::uint32_t size = image.length;
    const std::uint32_t skip = image.header ? image.header->bytes : 0;
    image.digest = ImageDigest(size, splitLevel);
    image.status = ImageStatus::ReadFailed;
    if (keep) {
        // Resized, not cleared: the bytes it holds are written over as the file is read. A
        // larger image, or one it finds no memory for, is identified all the same.
        bool room = size <= kKeepBytesAtMost;
        try {
            if (room) keep->resize(size);
        } catch (const std::bad_alloc&) {
            room = false;
        }
        if (!room) {
            keep->clear();
            keep = nullptr;
        }
    }
    if (size >= kMapAtLeast && !keep) {
        if (auto mapping = file->map(std::size_t(skip) + size)) {
            // A page past the end of a file cut short meanwhile stops the digest there.
            ImageDigest& digest = image.digest;
            const std::uint8_t* bytes = mapping->bytes();
            const auto read = [&] {
                image.archive = findArchives && looksLikeArchive({bytes, kHead});
                digest.add({bytes + skip, size});
            };
            if (!readMapped(*mapping, read)) return image;
            if (!file->unchangedSinceOpen()) return image;
            image.digest.finish();
            image.status = ImageStatus::Read;
            return image;
        }
        // Not mappable: read as a small image is.
    }
    std::uint8_t* piece = nullptr;
    try {
        if (!keep) piece = pieceBuffer();
    } catch (const std::bad_alloc&) {
        image.status = ImageStatus::OutOfMemory;
        return image;
    }
    while (image.digest.added() < size) {
        const std::size_t want = std::min<std::size_t>(kPiece, size - image.digest.added());
        std::uint8_t* buffer = keep ? keep->data() + image.digest.added() : piece;
        got = file->read(buffer, want);
        if (findArchives && !image.header && image.digest.added() == 0 && got == want &&
            looksLikeArchive({buffer, got}))
            image.archive = true;
        image.digest.add({buffer, got});
        if (got != want) return image;
    }
    // Every byte came in once; they are the file's only if nobody changed it meanwhile.
    if (!file->unchangedSinceOpen()) return image;
    image.digest.finish();
    image.status = ImageStatus::Read;
    return image;
}

}  // namespace chipsight
