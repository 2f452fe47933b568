// Archive members read with libarchive through the file layer, each checksummed as it streams.
#include "core/input/archive.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "core/file_layer.h"

namespace chipsight {
namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view magic) {
    return bytes.size() >= at + magic.size() &&
           std::memcmp(bytes.data() + at, magic.data(), magic.size()) == 0;
}

// What libarchive reads: the open file, read through the file layer so that its lock, its
// checks and its faults hold for archives as for images.
struct Source {
    File file;
    std::uint64_t position = 0;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(std::size_t(64) << 10);
};

la_ssize_t readSource(archive* a, void* data, const void** out) {
    auto* source = static_cast<Source*>(data);
    const std::size_t got = source->file.read(source->buffer.data(), source->buffer.size());
    // The file layer ends a read early on an error as on the end: short of the length, it is
    // an error.
    if (got == 0 && source->position < source->file.length()) {
        archive_set_error(a, EIO, "read failed");
        return -1;
    }
    source->position += got;
    *out = source->buffer.data();
    return la_ssize_t(got);
}

la_int64_t seekSource(archive*, void* data, la_int64_t offset, int whence) {
    auto* source = static_cast<Source*>(data);
    const auto base = whence == SEEK_SET   ? 0
                      : whence == SEEK_CUR ? std::int64_t(source->position)
                                           : std::int64_t(source->file.length());
    const std::int64_t target = base + offset;
    if (target < 0) return ARCHIVE_FATAL;
    try {
        source->file.seek(std::uint64_t(target));
    } catch (const FileError&) {
        return ARCHIVE_FATAL;
    }
    source->position = std::uint64_t(target);
    return target;
}

using Archive = std::unique_ptr<archive, decltype(&archive_read_free)>;

// The file as an archive of one of the container formats, or (`stream`) as a single
// compressed stream; nothing when libarchive cannot start on it.
std::optional<Archive> openAs(Source& source, bool stream) {
    Archive a(archive_read_new(), archive_read_free);
    if (!a) return std::nullopt;
    archive_read_support_filter_gzip(a.get());
    archive_read_support_filter_bzip2(a.get());
    archive_read_support_filter_xz(a.get());
    if (stream) {
        archive_read_support_format_raw(a.get());
    } else {
        // Only these: the catch-all formats (mtree, raw, ...) would take any file for one.
        archive_read_support_format_zip(a.get());
        archive_read_support_format_7zip(a.get());
        archive_read_support_format_tar(a.get());
        archive_read_support_format_gnutar(a.get());
    }
    if (seekSource(a.get(), &source, 0, SEEK_SET) != 0) return std::nullopt;
    archive_read_set_read_callback(a.get(), readSource);
    archive_read_set_seek_callback(a.get(), seekSource);
    archive_read_set_callback_data(a.get(), &source);
    if (archive_read_open1(a.get()) != ARCHIVE_OK) return std::nullopt;
    return a;
}

bool fine(int status) { return status == ARCHIVE_OK || status == ARCHIVE_WARN; }

// A single stream's member is the file it was made from: its name without the compressor's
// suffix.
std::string streamMemberName(const std::string& path) {
    std::string name = fileNameOf(path);
    for (const char* suffix : {".gz", ".xz", ".bz2"}) {
        const std::size_t n = std::strlen(suffix);
        if (name.size() > n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0)
            return name.substr(0, name.size() - n);
    }
    return "data";
}

constexpr std::size_t kPiece = 256 << 10;

// The length of the data in a gzip stream as its trailer gives it, modulo 4 GiB: the last four
// bytes of the file, little-endian. Nothing when the file does not start as a gzip stream.
std::optional<std::uint32_t> gzipTrailerLength(Source& source) {
    const std::uint64_t length = source.file.length();
    std::uint8_t head[2], tail[4];
    try {
        source.file.seek(0);
        if (length < 18 || source.file.read(head, 2) != 2 || head[0] != 0x1F || head[1] != 0x8B)
            return std::nullopt;
        source.file.seek(length - 4);
        if (source.file.read(tail, 4) != 4) return std::nullopt;
    } catch (const FileError&) {
        return std::nullopt;
    }
    return std::uint32_t(tail[0]) | std::uint32_t(tail[1]) << 8 | std::uint32_t(tail[2]) << 16 |
           std::uint32_t(tail[3]) << 24;
}

}  // namespace

bool looksLikeArchive(std::span<const std::uint8_t> head) {
    return startsWith(head, 0, "PK\x03\x04") || startsWith(head, 0, "PK\x05\x06") ||
           startsWith(head, 0, "7z\xBC\xAF\x27\x1C") || startsWith(head, 0, "\x1F\x8B") ||
           startsWith(head, 0,
                      "\xFD"
                      "7zXZ") ||
           startsWith(head, 0, "BZh") || startsWith(head, 257, "ustar");
}

namespace {

// readArchive, taking a gzip stream's trailer at its word when `trustTrailer` is set; nothing
// when the bytes proved it wrong before any member was handed on.
std::optional<ArchiveEnd> readOnce(const std::string& path, int splitLevel, bool keepBytes,
                                   const std::function<void(ArchiveMember&)>& member,
                                   std::uint64_t limit, bool trustTrailer) {
    auto file = File::open(path, File::Mode::Read);
    if (!file) return ArchiveEnd::CannotOpen;
    Source source{std::move(*file)};
    bool stream = false;
    std::optional<std::uint32_t> trailer;
    auto a = openAs(source, false);
    archive_entry* entry = nullptr;
    if (!a || !fine(archive_read_next_header(a->get(), &entry))) {
        // Not a container; a compressed stream, then, if a compressor took it.
        stream = true;
        if (trustTrailer) trailer = gzipTrailerLength(source);
        a = openAs(source, true);
        if (!a || !fine(archive_read_next_header(a->get(), &entry)) ||
            archive_filter_code(a->get(), 0) == ARCHIVE_FILTER_NONE)
            return ArchiveEnd::NotAnArchive;
    }
    archive* const ar = a->get();
    // Members are held whole only up to half the machine's memory.
    const std::uint64_t holdable = std::min<std::uint64_t>(0xFFFFFFFFull, physicalMemory() / 2);
    std::uint64_t unpacked = 0;
    std::vector<std::uint8_t> piece(kPiece);
    for (bool first = true;; first = false) {
        if (!first) {
            const int status = archive_read_next_header(ar, &entry);
            // Members passed over are skipped by seeking: one whose bytes the file does not
            // have leaves the position past its end. An archive written to while it was read
            // is no more to be trusted than an image would be.
            if (status == ARCHIVE_EOF)
                return source.position > source.file.length() || !source.file.unchangedSinceOpen()
                           ? ArchiveEnd::Damaged
                           : ArchiveEnd::Done;
            if (!fine(status)) return ArchiveEnd::Damaged;
        }
        // Hard links in a tar carry no bytes of their own; the file they name came before.
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr)
            continue;
        ArchiveMember m;
        if (stream) {
            m.path = streamMemberName(path);
        } else {
            const char* name = archive_entry_pathname_utf8(entry);
            if (!name) name = archive_entry_pathname(entry);
            m.path = name ? name : "";
        }
        // A single gzip stream says its length only at its end, and only modulo 4 GiB: it is
        // taken at its word, so the stream is checksummed as it unpacks rather than held whole,
        // and found wrong when the bytes run past it (4 GiB or more, or streams one after
        // another) or stop short of it.
        const bool guessed = stream && trailer;
        const bool sizeKnown = guessed || (!stream && archive_entry_size_is_set(entry) != 0);
        const std::uint64_t claimed = guessed     ? *trailer
                                      : sizeKnown ? std::uint64_t(archive_entry_size(entry))
                                                  : 0;
        if (sizeKnown) {
            m.image.length = std::uint32_t(claimed);
            if (const ImageStatus status = lengthStatus(claimed); status != ImageStatus::Read) {
                m.image.status = status;
                member(m);
                continue;
            }
        }
        // The bytes are held when asked for, and when the length is not known until the end.
        const bool hold = keepBytes || !sizeKnown;
        if (hold && claimed > holdable) {
            m.image.status = ImageStatus::OutOfMemory;
            member(m);
            continue;
        }
        ImageDigest digest(m.image.length, splitLevel);
        std::uint64_t got = 0;
        bool tooLarge = false, outOfMemory = false, overrun = false;
        for (;;) {
            const la_ssize_t n = archive_read_data(ar, piece.data(), piece.size());
            if (n < 0)
                return stream && first && got == 0 ? ArchiveEnd::NotAnArchive : ArchiveEnd::Damaged;
            if (n == 0) break;
            unpacked += std::uint64_t(n);
            if (unpacked > limit) return ArchiveEnd::TooLarge;
            got += std::uint64_t(n);
            if (sizeKnown && got > claimed) {
                if (!guessed) return ArchiveEnd::Damaged;
                overrun = true;
            }
            if (!sizeKnown && got > 0xFFFFFFFFull) tooLarge = true;
            if (hold && !tooLarge && !outOfMemory && !overrun) {
                if (got > holdable) {
                    outOfMemory = true;
                } else {
                    try {
                        const std::size_t at = m.bytes.size();
                        m.bytes.resize(at + std::size_t(n));
                        std::memcpy(m.bytes.data() + at, piece.data(), std::size_t(n));
                    } catch (const std::bad_alloc&) {
                        outOfMemory = true;
                    }
                }
                if (outOfMemory) std::vector<std::uint8_t>().swap(m.bytes);
            }
            if (sizeKnown && !overrun) digest.add({piece.data(), std::size_t(n)});
        }
        if (overrun && got > 0xFFFFFFFFull) {
            m.image.status = ImageStatus::TooLarge;
            member(m);
            continue;
        }
        // Several gzip streams one after another: read again, held whole.
        if (overrun) return std::nullopt;
        if (sizeKnown && got != claimed) return ArchiveEnd::Damaged;
        if (tooLarge) {
            m.image.status = ImageStatus::TooLarge;
        } else if (!sizeKnown && outOfMemory) {
            m.image.status = ImageStatus::OutOfMemory;
        } else {
            m.image.length = std::uint32_t(got);
            if (lengthStatus(got) != ImageStatus::Read) {
                m.image.status = ImageStatus::NotPowerOfTwo;
            } else {
                if (!sizeKnown) {
                    digest = ImageDigest(m.image.length, splitLevel);
                    digest.add(m.bytes);
                }
                digest.finish();
                m.image.digest = digest;
                m.image.status = ImageStatus::Read;
                m.bytesKept = keepBytes && !outOfMemory;
                if (!m.bytesKept) std::vector<std::uint8_t>().swap(m.bytes);
            }
        }
        member(m);
    }
}

}  // namespace

ArchiveEnd readArchive(const std::string& path, int splitLevel, bool keepBytes,
                       const std::function<void(ArchiveMember&)>& member, std::uint64_t limit) {
    if (auto end = readOnce(path, splitLevel, keepBytes, member, limit, true)) return *end;
    return readOnce(path, splitLevel, keepBytes, member, limit, false)
        .value_or(ArchiveEnd::Damaged);
}

}  // namespace chipsight
