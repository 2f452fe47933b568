// Telling a DAT's format and compression by its first bytes, and the sources its bytes come
// from: a file read in pieces through the file layer, bytes in memory, and gzip over either.
#include "core/databases/dat/dat_reader.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "core/checksum/crc32.h"
#include "core/databases/dat/dat_internal.h"
#include "core/sys/file_layer.h"

namespace chipsight {

const char* datFormatName(DatFormat format) {
    switch (format) {
        case DatFormat::ListXml:
            return "MAME ListXML";
        case DatFormat::SoftwareList:
            return "MAME software list";
        case DatFormat::Logiqx:
            return "Logiqx XML";
        case DatFormat::ClrMamePro:
            return "ClrMamePro";
        case DatFormat::None:
            break;
    }
    return "";
}

namespace dat {
namespace {

// Reading in pieces of this size keeps memory flat whatever the size of the file, and a piece
// just read is still in the processor's second-level cache when the reader goes through it.
constexpr std::size_t kPiece = 256 << 10;
// A document that begins with more blanks than this is no DAT.
constexpr std::size_t kMostLeadingBlanks = 1 << 20;

class MemorySource : public ByteSource {
  public:
    MemorySource(std::string_view bytes, std::size_t piece)
        : bytes_(bytes), piece_(piece ? piece : bytes.size()) {}
    std::string_view next() override {
        const std::string_view piece = bytes_.substr(0, piece_);
        bytes_.remove_prefix(piece.size());
        return piece;
    }

  private:
    std::string_view bytes_;
    std::size_t piece_;
};

class FileSource : public ByteSource {
  public:
    FileSource(File& file, const std::function<void(std::uint64_t)>& progress, bool checksum)
        : file_(file), progress_(progress), buffer_(new char[kPiece]), checksum_(checksum) {}
    std::string_view next() override {
        const std::uint64_t left = file_.length() - done_;
        if (left == 0) return {};
        const std::size_t want = std::size_t(std::min<std::uint64_t>(left, kPiece));
        const std::size_t got = file_.read(buffer_.get(), want);
        done_ += got;
        if (checksum_)
            crc_ = Crc32(crc_, reinterpret_cast<const std::uint8_t*>(buffer_.get()),
                         std::uint32_t(got));
        if (progress_) progress_(done_);
        if (got < want) failure = "the file could not be read to its end";
        return {buffer_.get(), got};
    }
    std::uint64_t done() const { return done_; }
    std::uint32_t crc() const { return crc_; }

  private:
    File& file_;
    const std::function<void(std::uint64_t)>& progress_;
    std::unique_ptr<char[]> buffer_;
    const bool checksum_;
    std::uint64_t done_ = 0;
    std::uint32_t crc_ = 0;
};

// Gives back a piece already taken from `inner` first, then the rest of `inner`, and counts
// what it gives.
class Replay : public ByteSource {
  public:
    Replay(ByteSource& inner, std::string_view first) : inner_(inner), first_(first) {}
    std::string_view next() override {
        std::string_view piece = std::exchange(first_, std::string_view());
        if (piece.empty()) {
            piece = inner_.next();
            failure = inner_.failure;
        }
        bytes += piece.size();
        return piece;
    }
    std::uint64_t bytes = 0;

  private:
    ByteSource& inner_;
    std::string_view first_;
};

// gzip members, one after the other, inflated through zlib.
class GzipSource : public ByteSource {
  public:
    explicit GzipSource(ByteSource& inner) : inner_(inner), out_(new char[kPiece]) {
        ok_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;
        if (!ok_) failure = "the compressed data cannot be inflated";
    }
    ~GzipSource() override {
        if (ok_) inflateEnd(&stream_);
    }
    std::string_view next() override {
        if (!ok_ || done_) return {};
        stream_.next_out = reinterpret_cast<Bytef*>(out_.get());
        stream_.avail_out = kPiece;
        while (stream_.avail_out == kPiece && !done_) {
            // Between members nothing is owed: the input may end there, or go on with bytes
            // that are not another member, which are passed over, as gzip itself does.
            const bool betweenMembers = afterMember_ && stream_.total_in == 0;
            if (stream_.avail_in == 0) {
                const std::string_view in = inner_.next();
                if (in.empty()) {
                    failure = inner_.failure;
                    if (failure.empty() && !betweenMembers)
                        failure = "the compressed data ends early";
                    done_ = true;
                    break;
                }
                stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
                stream_.avail_in = uInt(in.size());
            }
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                afterMember_ = true;
                inflateReset(&stream_);
            } else if (status == Z_DATA_ERROR && afterMember_ && stream_.total_out == 0) {
                done_ = true;
            } else if (status != Z_OK && status != Z_BUF_ERROR) {
                failure = "the compressed data is damaged";
                done_ = true;
            }
        }
        return {out_.get(), kPiece - stream_.avail_out};
    }

  private:
    ByteSource& inner_;
    z_stream stream_{};
    std::unique_ptr<char[]> out_;
    bool ok_ = false, done_ = false, afterMember_ = false;
};

bool isXmlBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The format family the first bytes of a document announce.
enum class Family { None, Xml, ClrMamePro };

Family familyOf(std::string_view head) {
    if (head.size() >= 2 &&
        ((head[0] == '\xff' && head[1] == '\xfe') || (head[0] == '\xfe' && head[1] == '\xff') ||
         (head[0] == '\0' && head[1] == '<') || (head[0] == '<' && head[1] == '\0')))
        return Family::Xml;  // UTF-16, which expat reads
    if (head.starts_with("\xef\xbb\xbf")) head.remove_prefix(3);
    std::size_t i = 0;
    while (i < head.size() && isXmlBlank(head[i])) ++i;
    head.remove_prefix(i);
    if (head.starts_with("<")) return Family::Xml;
    // Older tools head the file with an emulator block instead.
    for (const std::string_view header : {"clrmamepro", "emulator"})
        if (head.starts_with(header) &&
            (head.size() == header.size() || isXmlBlank(head[header.size()]) ||
             head[header.size()] == '('))
            return Family::ClrMamePro;
    return Family::None;
}

// Whether `head`, the first bytes of a document, is enough to tell its format and compression
// by: the first bytes that are not a BOM or blanks, as many as the longest sign needs.
bool enoughToTell(std::string_view head) {
    if (head.size() >= kMostLeadingBlanks) return true;
    if (head.size() < 3 && std::string_view("\xef\xbb\xbf").starts_with(head)) return false;
    if (head.starts_with("\xef\xbb\xbf")) head.remove_prefix(3);
    std::size_t i = 0;
    while (i < head.size() && isXmlBlank(head[i])) ++i;
    return head.size() - i > std::string_view("clrmamepro").size();
}

// The first piece of `source` extended with the next ones until enoughToTell() (or the end);
// `store` keeps the bytes when more than one piece was needed.
std::string_view gather(ByteSource& source, std::string_view first, std::string& store) {
    std::string_view head = first;
    while (!enoughToTell(head)) {
        if (store.empty()) store.assign(head);
        const std::string_view more = source.next();
        if (more.empty()) break;
        store.append(more);
        head = store;
    }
    return head;
}

// Reads the (decompressed) document of `source` whose first piece is `first`.
DatResult readDocument(ByteSource& source, std::string_view first, DatSink& sink, XmlEngine engine,
                       bool compressed) {
    DatResult result;
    std::string store;
    const std::string_view head = gather(source, first, store);
    Replay replay(source, head);
    const Family family = familyOf(head);
    if (family == Family::Xml) readXml(replay, sink, result, engine);
    if (family == Family::ClrMamePro) readClrMamePro(replay, sink, result);
    result.bytes = replay.bytes;
    // Damaged compressed data may inflate to anything before zlib notices: when the text is
    // at fault, the rest is inflated too, so that damage is what is reported, wherever the
    // pieces happened to end.
    if (compressed && !result.ok && replay.failure.empty())
        while (!replay.next().empty()) {
        }
    if (!replay.failure.empty() && result.format != DatFormat::None) {
        // A document cut short by a failed read says nothing about its writer's mistakes.
        result.ok = false;
        result.line = 0;
        result.reason = replay.failure;
    } else if (!source.failure.empty() && head.empty()) {
        // Nothing could be read at all. (Past the first bytes, a document of no known format is
        // passed over whatever its end is like.)
        result.ok = false;
        result.reason = source.failure;
    }
    return result;
}

DatResult readSource(ByteSource& raw, DatSink& sink, XmlEngine engine) {
    std::string store;
    const std::string_view head = gather(raw, raw.next(), store);
    if (head.size() >= 2 && head[0] == '\x1f' && head[1] == '\x8b') {
        Replay again(raw, head);
        GzipSource gzip(again);
        const std::string_view first = gzip.next();
        return readDocument(gzip, first, sink, engine, true);
    }
    return readDocument(raw, head, sink, engine, false);
}

}  // namespace

DatResult readDatBytesWith(std::string_view bytes, DatSink& sink, XmlEngine engine,
                           std::size_t piece) {
    MemorySource source(bytes, piece);
    return readSource(source, sink, engine);
}

DatResult readDatFileWith(const std::string& path, DatSink& sink,
                          const std::function<void(std::uint64_t)>& progress, XmlEngine engine,
                          bool checksum) {
    OpenFailure failure{};
    auto file = File::open(path, File::Mode::ReadDatabase, &failure);
    if (!file) {
        DatResult result;
        result.ok = false;
        result.reason = failure == OpenFailure::Busy ? "the file is busy" : "cannot open the file";
        return result;
    }
    FileSource source(*file, progress, checksum);
    DatResult result = readSource(source, sink, engine);
    result.fileBytes = source.done();
    result.fileCrc = source.crc();
    return result;
}

}  // namespace dat

DatResult readDatFile(const std::string& path, DatSink& sink,
                      const std::function<void(std::uint64_t)>& progress, bool checksum) {
    return dat::readDatFileWith(path, sink, progress, dat::XmlEngine::Scanner, checksum);
}

DatResult readDatBytes(std::string_view bytes, DatSink& sink) {
    return dat::readDatBytesWith(bytes, sink, dat::XmlEngine::Scanner);
}

}  // namespace chipsight
