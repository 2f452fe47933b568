// Archive members read with libarchive through the file layer, each checksummed as it streams.
#include "core/input/archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "core/input/image_file.h"
#include "core/sys/file_layer.h"

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

// What libarchive is asked to read the file as.
enum class Formats {
    // zip (through its central directory), 7z or tar, plain or compressed
    Containers,
    // zip member by member from its start, as when its central directory cannot be had
    StreamedZip,
    // a single compressed stream
    Stream,
};

// The file as `formats`; nothing when libarchive cannot start on it.
std::optional<Archive> openAs(Source& source, Formats formats) {
    Archive a(archive_read_new(), archive_read_free);
    if (!a) return std::nullopt;
    archive_read_support_filter_gzip(a.get());
    archive_read_support_filter_bzip2(a.get());
    archive_read_support_filter_xz(a.get());
    // Only these: the catch-all formats (mtree, raw, ...) would take any file for one.
    switch (formats) {
        case Formats::Containers:
            archive_read_support_format_zip_seekable(a.get());
            archive_read_support_format_7zip(a.get());
            archive_read_support_format_tar(a.get());
            archive_read_support_format_gnutar(a.get());
            break;
        case Formats::StreamedZip:
            archive_read_support_format_zip_streamable(a.get());
            break;
        case Formats::Stream:
            archive_read_support_format_raw(a.get());
            break;
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

enum class GzipCheck { NotGzip, Whole, Damaged, TooLarge };

// libarchive inflates gzip without checking the CRC-32 and the length that end each member, and
// that one checksum covers every member of a tar inside: a gzip file is inflated through zlib
// first, which checks them, before any member is handed on. What zlib cannot inflate a byte of
// from the start is left to libarchive (it is no gzip stream, most likely), and so are bytes
// after a member that do not start another, which both pass over. Inflating stops past `limit`
// bytes.
GzipCheck checkGzip(File& file, std::uint64_t limit) {
    std::uint8_t magic[2];
    try {
        file.seek(0);
        if (file.read(magic, 2) != 2 || magic[0] != 0x1F || magic[1] != 0x8B)
            return GzipCheck::NotGzip;
        file.seek(0);
    } catch (const FileError&) {
        return GzipCheck::NotGzip;
    }
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    const std::unique_ptr<z_stream, decltype(&inflateEnd)> end(&z, inflateEnd);
    gz_header header{};
    inflateGetHeader(&z, &header);
    std::vector<std::uint8_t> in(std::size_t(64) << 10), out(std::size_t(256) << 10);
    std::uint64_t left = file.length(), inflated = 0;
    for (bool first = true;;) {
        if (z.avail_in == 0 && left != 0) {
            const auto want = std::size_t(std::min<std::uint64_t>(left, in.size()));
            if (file.read(in.data(), want) != want) return GzipCheck::Damaged;
            left -= want;
            z.next_in = in.data();
            z.avail_in = uInt(want);
        }
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        const int status = inflate(&z, Z_NO_FLUSH);
        inflated += out.size() - z.avail_out;
        if (inflated > limit) return GzipCheck::TooLarge;
        if (status == Z_STREAM_END) {
            if (z.avail_in == 0 && left == 0) return GzipCheck::Whole;
            first = false;
            inflateReset(&z);
            header = {};
            inflateGetHeader(&z, &header);
        } else if (status == Z_MEM_ERROR) {
            throw std::bad_alloc();
        } else if (status != Z_OK && (status != Z_BUF_ERROR || (z.avail_in == 0 && left == 0))) {
            // Damaged, or cut short. A member counts from the end of its header on.
            if (first) return inflated == 0 ? GzipCheck::NotGzip : GzipCheck::Damaged;
            return header.done == 1 ? GzipCheck::Damaged : GzipCheck::Whole;
        }
    }
}

// A run of zeros, for the holes of a sparse member.
constexpr std::array<std::uint8_t, 64 << 10> kZeros{};

// An archive opened, its first member's header read.
struct Opened {
    std::optional<Archive> archive;
    archive_entry* entry = nullptr;
    // A single compressed stream: one member, named after the file, its length known nowhere.
    bool stream = false;
    // A zip read member by member without its central directory: it ends damaged.
    bool withoutDirectory = false;
};

// Checks a gzip file whole, then opens `source` as a container, a zip without its directory,
// or a compressed stream, whichever reads; the end to report when none does.
std::optional<ArchiveEnd> openArchive(Source& source, std::uint64_t limit, Opened& opened) {
    switch (checkGzip(source.file, limit)) {
        case GzipCheck::Damaged:
            return ArchiveEnd::Damaged;
        case GzipCheck::TooLarge:
            return ArchiveEnd::TooLarge;
        case GzipCheck::NotGzip:
        case GzipCheck::Whole:
            break;
    }
    const auto opens = [&](Formats formats) {
        opened.archive = openAs(source, formats);
        return opened.archive &&
               fine(archive_read_next_header(opened.archive->get(), &opened.entry));
    };
    // A zip whose central directory is missing or cannot be read (cut short, most often) can
    // still be read member by member, but not known whole: it ends damaged once the members it
    // has were handed on. Inside a compressor that is the only way to read a zip, and no fault.
    if (!opens(Formats::Containers)) {
        opened.withoutDirectory = opens(Formats::StreamedZip);
        if (!opened.withoutDirectory) {
            // Not a container; a compressed stream, then, if a compressor took it.
            opened.stream = true;
            if (!opens(Formats::Stream) ||
                archive_filter_code(opened.archive->get(), 0) == ARCHIVE_FILTER_NONE)
                return ArchiveEnd::NotAnArchive;
        }
    }
    opened.withoutDirectory = opened.withoutDirectory &&
                              archive_filter_code(opened.archive->get(), 0) == ARCHIVE_FILTER_NONE;
    return std::nullopt;
}

// The member's path inside the archive, in UTF-8; a stream's is made from the file's name.
std::string memberName(archive_entry* entry, const Opened& opened, const std::string& path) {
    if (opened.stream) return streamMemberName(path);
    // A name the archive says is Unicode comes converted (and composed, as libarchive does),
    // any other with its bytes as they are.
    const char* name = archive_entry_pathname(entry);
    if (!name) name = archive_entry_pathname_utf8(entry);
    return name ? name : "";
}

// Where a member's bytes go as they unpack: its digest, and its bytes while they may be kept.
class MemberSink {
  public:
    // `claimed`: the length the member says it has, when `sizeKnown`; `keep`: its bytes are
    // wanted, up to `keepAtMost`. `unpacked` counts the bytes of every member, against `limit`.
    // `anyLength`: a member of a length that is not a power of two is unpacked for its bytes.
    MemberSink(ArchiveMember& m, bool sizeKnown, std::uint64_t claimed, bool keep,
               std::uint64_t keepAtMost, int splitLevel, std::uint64_t& unpacked,
               std::uint64_t limit, bool anyLength)
        : m_(m),
          sizeKnown_(sizeKnown),
          anyLength_(anyLength),
          digesting_(sizeKnown && lengthStatus(claimed) == ImageStatus::Read),
          // A member a collection takes whole is not looked at for a header.
          heading_(sizeKnown && !anyLength && headerMayLead(claimed)),
          claimed_(claimed),
          keepAtMost_(keepAtMost),
          limit_(limit),
          unpacked_(unpacked),
          // The digest takes only a length that is a power of two.
          digest_(digesting_ ? m.image.length : 0, splitLevel),
          splitLevel_(splitLevel),
          kept_(keep) {}

    // False when the member unpacks to more than it claimed or the archive to more than limit.
    bool take(const std::uint8_t* bytes, std::size_t n) {
        unpacked_ += n;
        got_ += n;
        if (unpacked_ > limit_ || (sizeKnown_ && got_ > claimed_)) return false;
        if (heading_)
            takeHeaded(bytes, n);
        else if (digesting_)
            digest_.add({bytes, n});
        else if (!sizeKnown_ && got_ <= 0xFFFFFFFFull)
            unsized_.add({bytes, n});
        if (kept_) {
            kept_ = got_ <= keepAtMost_;
            try {
                if (kept_) m_.bytes.insert(m_.bytes.end(), bytes, bytes + n);
            } catch (const std::bad_alloc&) {
                kept_ = false;
            }
            if (!kept_) std::vector<std::uint8_t>().swap(m_.bytes);
        }
        return true;
    }
    // The holes of a sparse member are zeros, wherever the runs of its map leave them: before
    // a block's offset, and after the last block up to its length.
    bool fillTo(std::uint64_t offset) {
        while (got_ < offset)
            if (!take(kZeros.data(),
                      std::size_t(std::min<std::uint64_t>(offset - got_, kZeros.size()))))
                return false;
        return true;
    }
    std::uint64_t got() const { return got_; }

    // Gives the member its status, digest and bytes from what came.
    void finish(int splitLevel) {
        m_.image.status = lengthStatus(got_);
        if (m_.image.status != ImageStatus::TooLarge) m_.image.length = std::uint32_t(got_);
        if (header_ && got_ == claimed_) {
            // Identified, and kept, by the bytes after its header.
            m_.image.status = ImageStatus::Read;
            m_.image.header = header_;
            m_.image.length -= header_->bytes;
            digest_.finish();
            m_.image.digest = digest_;
            m_.bytesKept = kept_;
            if (kept_) m_.bytes.erase(m_.bytes.begin(), m_.bytes.begin() + header_->bytes);
        } else if (m_.image.status == ImageStatus::Read) {
            if (sizeKnown_) {
                digest_.finish();
                m_.image.digest = digest_;
            } else {
                m_.image.digest = unsized_.finish(splitLevel);
            }
            m_.bytesKept = kept_;
        } else if (anyLength_ && m_.image.status == ImageStatus::NotPowerOfTwo) {
            m_.bytesKept = kept_;
        }
        if (!m_.bytesKept) std::vector<std::uint8_t>().swap(m_.bytes);
    }

  private:
    // A member of a length no image has, which may be a known header and a dump: its first
    // bytes are held until they tell which, then the dump's go to the digest as they come.
    void takeHeaded(const std::uint8_t* bytes, std::size_t n) {
        const std::size_t headLength =
            std::size_t(std::min<std::uint64_t>(kLongestHeader, claimed_));
        if (!header_ && head_.size() < headLength) {
            const std::size_t part = std::min(n, headLength - head_.size());
            head_.insert(head_.end(), bytes, bytes + part);
            bytes += part;
            n -= part;
            if (head_.size() < headLength) return;
            header_ = knownHeaderOf(head_, claimed_);
            if (!header_) {
                // Refused for its length: nothing of it is wanted.
                heading_ = false;
                kept_ = false;
                return;
            }
            digest_ = ImageDigest(std::uint32_t(claimed_ - header_->bytes), splitLevel_);
            digest_.add({head_.data() + header_->bytes, head_.size() - header_->bytes});
        }
        if (header_) digest_.add({bytes, n});
    }

    ArchiveMember& m_;
    const bool sizeKnown_, anyLength_, digesting_;
    bool heading_;
    const std::uint64_t claimed_, keepAtMost_, limit_;
    std::uint64_t& unpacked_;
    ImageDigest digest_;
    const int splitLevel_;
    std::vector<std::uint8_t> head_;
    const KnownHeader* header_ = nullptr;
    UnsizedDigest unsized_;
    std::uint64_t got_ = 0;
    bool kept_;
};

// Unpacks the current member into `sink`; the end to report when that fails. `first`: of a
// stream's first member, whose data alone tells whether it is compressed data at all.
std::optional<ArchiveEnd> unpackMember(archive* ar, archive_entry* entry, MemberSink& sink,
                                       bool sizeKnown, std::uint64_t claimed, bool firstOfStream,
                                       const std::uint64_t& unpacked, std::uint64_t limit) {
    const auto overOrDamaged = [&] {
        return unpacked > limit ? ArchiveEnd::TooLarge : ArchiveEnd::Damaged;
    };
    for (;;) {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(ar, &block, &size, &offset);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK || offset < 0 || std::uint64_t(offset) < sink.got())
            return firstOfStream && sink.got() == 0 ? ArchiveEnd::NotAnArchive
                                                    : ArchiveEnd::Damaged;
        if (!sink.fillTo(std::uint64_t(offset)) ||
            !sink.take(static_cast<const std::uint8_t*>(block), size))
            return overOrDamaged();
    }
    if (sizeKnown && archive_entry_sparse_count(entry) > 0 && !sink.fillTo(claimed))
        return overOrDamaged();
    if (sizeKnown && sink.got() != claimed) return ArchiveEnd::Damaged;
    return std::nullopt;
}

}  // namespace

Utf8Names::Utf8Names() {
    // Only the character set changes: messages, numbers and the rest stay the thread's own.
    const locale_t base = duplocale(uselocale(locale_t(0)));
    if (!base) return;
    utf8_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
    if (!utf8_) {
        freelocale(base);
        return;
    }
    previous_ = uselocale(utf8_);
}

Utf8Names::~Utf8Names() {
    if (!utf8_) return;
    uselocale(previous_);
    freelocale(utf8_);
}

bool looksLikeArchive(std::span<const std::uint8_t> head) {
    return startsWith(head, 0, "PK\x03\x04") || startsWith(head, 0, "PK\x05\x06") ||
           startsWith(head, 0, "7z\xBC\xAF\x27\x1C") || startsWith(head, 0, "\x1F\x8B") ||
           startsWith(head, 0,
                      "\xFD"
                      "7zXZ") ||
           startsWith(head, 0, "BZh") || startsWith(head, 257, "ustar");
}

ArchiveEnd readArchive(const std::string& path, int splitLevel, bool keepBytes,
                       const std::function<void(ArchiveMember&)>& member, std::uint64_t limit,
                       bool anyLength) {
    const Utf8Names utf8;
    auto file = File::open(path, File::Mode::Read);
    if (!file) return ArchiveEnd::CannotOpen;
    Source source{std::move(*file)};
    Opened opened;
    if (const auto failed = openArchive(source, limit, opened)) return *failed;
    archive* const ar = opened.archive->get();
    archive_entry* entry = opened.entry;
    // Members of a known length are held whole for the doctor only up to half the machine's
    // memory; of one known only at its end, no more than an image's bytes are kept.
    const std::uint64_t holdable = std::min<std::uint64_t>(0xFFFFFFFFull, physicalMemory() / 2);
    std::uint64_t unpacked = 0;
    for (bool first = true;; first = false) {
        if (!first) {
            const int status = archive_read_next_header(ar, &entry);
            // Members passed over are skipped by seeking: one whose bytes the file does not
            // have leaves the position past its end. An archive written to while it was read
            // is no more to be trusted than an image would be.
            if (status == ARCHIVE_EOF)
                return opened.withoutDirectory || source.position > source.file.length() ||
                               !source.file.unchangedSinceOpen()
                           ? ArchiveEnd::Damaged
                           : ArchiveEnd::Done;
            if (!fine(status)) return ArchiveEnd::Damaged;
        }
        // Hard links in a tar carry no bytes of their own; the file they name came before.
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry) != nullptr)
            continue;
        ArchiveMember m;
        m.path = memberName(entry, opened, path);
        // A single stream says its length nowhere ahead (gzip only at the end of each member,
        // modulo 4 GiB), nor does a zip member written with its length after it: such a member
        // is checksummed in blocks as it unpacks, whatever its length turns out to be.
        const bool sizeKnown = !opened.stream && archive_entry_size_is_set(entry) != 0;
        const std::uint64_t claimed = sizeKnown ? std::uint64_t(archive_entry_size(entry)) : 0;
        if (sizeKnown) {
            m.image.length = std::uint32_t(claimed);
            const ImageStatus status = lengthStatus(claimed);
            if (status != ImageStatus::Read &&
                !(status == ImageStatus::NotPowerOfTwo && (anyLength || headerMayLead(claimed)))) {
                m.image.status = status;
                member(m);
                continue;
            }
            // A member looked at only for a header is refused for its length when it has none,
            // as it always was, whatever memory could hold.
            if (keepBytes && claimed > holdable && (status == ImageStatus::Read || anyLength)) {
                m.image.status = ImageStatus::OutOfMemory;
                member(m);
                continue;
            }
        }
        const std::uint64_t keepAtMost = !keepBytes ? 0
                                         : sizeKnown
                                             ? holdable
                                             : std::min<std::uint64_t>(holdable, kKeepBytesAtMost);
        MemberSink sink(m, sizeKnown, claimed, keepBytes, keepAtMost, splitLevel, unpacked, limit,
                        anyLength);
        if (const auto failed = unpackMember(ar, entry, sink, sizeKnown, claimed,
                                             opened.stream && first, unpacked, limit))
            return *failed;
        sink.finish(splitLevel);
        member(m);
    }
}

}  // namespace chipsight
