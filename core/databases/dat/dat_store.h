// The entries read from one DAT file, kept in one block of bytes: the block a load builds is
// the block the compiled cache stores and maps back, so both are read by the same code.
//
// The block, all numbers little-endian:
//   header   magic "CSDATSTO", u32 layout version, u32 format, u64 entries, u64 sets,
//            u64 short texts, u64 pool bytes, u64 entries with a SHA-1, u64 entries with an MD5
//   keys     per entry u32 crc, u32 size (what the index reads, apart from the rest)
//   entries  per entry kEntryBytes: name (u32 offset, u32 length into the pool), u32 set,
//            u16 region, u16 endianness, u16 load flag (1-based numbers of short texts, 0 for
//            none), u8 flags, u8 data width, u64 offset
//   sha1s    per entry 20 bytes (zero for an entry without one); left out when no entry has one
//   md5s     per entry 16 bytes, the same way
//   sets     per set: name, description, list (each u32 offset, u32 length)
//   texts    per short text: u32 offset, u32 length
//   pool     the bytes of every text
// The sizes of the parts follow from the header's counts and must add up to the block's
// length. Whatever the block says beyond that is checked where it is read: a text out of the
// pool reads empty, a set or short text that does not exist reads as none. A block from a
// damaged cache therefore gives wrong texts at worst, never a read out of bounds; and a block
// mapped from the cache has its bytes checked against the cache's checksums as they are read,
// so that a damaged one gives way to its DAT read again.
//
// The SHA-1s and MD5s lie apart from the entries so that a lookup by one of them, which no index
// serves, passes over those bytes alone: 20 MB for a million entries' SHA-1s.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/checksum/chunk_checks.h"
#include "core/databases/dat/dat_reader.h"

namespace chipsight {

// What a DAT says of one ROM beyond its checksum and size.
struct DatEntryInfo {
    std::string_view name, setName, setDescription, listName;
    std::string_view region, endianness, loadFlag;
    std::optional<std::array<std::uint8_t, 20>> sha1;
    std::optional<std::array<std::uint8_t, 16>> md5;
    std::optional<std::uint64_t> offset;
    std::uint32_t dataWidth = 0;
    bool badDump = false;
};

// The description an entry line shows: the set's description, then " [SET]" (" [LIST:SET]"
// for a software list), then " (BAD DUMP)" for a bad dump.
std::string datEntryDescription(const DatEntryInfo& info);

// Collects the ROMs a reader sends into a block.
class DatStoreBuilder : public DatSink {
  public:
    void rom(const DatRom& rom) override;
    std::size_t size() const { return entries_.size(); }
    // The block of everything collected, for DatStore::open.
    std::vector<std::uint8_t> finish(DatFormat format) const;

  private:
    struct Text {
        std::uint32_t offset = 0, length = 0;
    };
    struct Set {
        Text name, description, list;
    };
    struct Entry {
        Text name;
        std::uint32_t set;
        std::uint16_t region, endianness, loadFlag;
        std::uint8_t flags, dataWidth;
        std::uint64_t offset;
        std::array<std::uint8_t, 20> sha1;
        std::array<std::uint8_t, 16> md5;
    };
    Text add(std::string_view text);
    std::uint16_t shortText(std::string_view text);
    std::string_view textOf(Text t) const {
        return std::string_view(pool_).substr(t.offset, t.length);
    }

    std::vector<std::uint32_t> keys_;
    std::vector<Entry> entries_;
    std::vector<Set> sets_;
    std::vector<Text> shortTexts_;
    std::unordered_map<std::string, std::uint16_t> shortTextNumbers_;
    std::string pool_;
    std::size_t sha1s_ = 0, md5s_ = 0;  // how many entries have one
};

class DatStore;

// Where the block of a store mapped from the cache came from: what checks its bytes as they are
// read, and the way to the same entries read again from the DAT, should the block turn out
// damaged.
class DatBlockSource {
  public:
    virtual ~DatBlockSource() = default;
    virtual const ChunkChecks& chunks() const = 0;
    // The store of the DAT of the cache's file number `file` read again; none when that cannot
    // be had as it was (the DAT is gone, or is another file now).
    virtual std::shared_ptr<const DatStore> reread(std::size_t file) const = 0;
};

class DatStore {
  public:
    // The bytes of a block's header, which open() reads.
    static constexpr std::size_t kHeaderBytes = 64;

    // The store over a block, which it keeps alive; none when the block's header and length do
    // not agree. With a `source`, the block is file number `file` of a cache, whose header is
    // `header` (a copy checked already, kept apart so that opening touches no page of the
    // block), and every byte of the block is checked as it is read.
    static std::shared_ptr<const DatStore> open(std::shared_ptr<const std::uint8_t[]> block,
                                                std::size_t length,
                                                std::shared_ptr<const DatBlockSource> source = {},
                                                std::size_t file = 0,
                                                const std::uint8_t* header = nullptr);
    // Room for `count` stores in one allocation, for a cache that opens thousands at once:
    // each is opened with openIn and handed out as an alias of the whole.
    static std::shared_ptr<DatStore[]> room(std::size_t count) {
        return std::shared_ptr<DatStore[]>(new DatStore[count]);
    }
    // open() into `store`, one of a room's that was not opened yet; false where open() gives
    // none.
    static bool openIn(DatStore& store, std::shared_ptr<const std::uint8_t[]> block,
                       std::size_t length, std::shared_ptr<const DatBlockSource> source,
                       std::size_t file, const std::uint8_t* header);

    DatFormat format() const { return format_; }
    std::size_t size() const { return count_; }
    std::uint32_t crc(std::size_t i) const;
    std::uint32_t romSize(std::size_t i) const;
    DatEntryInfo info(std::size_t i) const;
    // How many entries their DAT gives a SHA-1, and an MD5.
    std::size_t sha1Count() const { return sha1Count_; }
    std::size_t md5Count() const { return md5Count_; }
    // The numbers of the entries whose DAT gives `sha1` (or `md5`), in order: one pass over the
    // SHA-1s (MD5s) of the block, and none over a block that holds none.
    std::vector<std::size_t> entriesWithSha1(const std::array<std::uint8_t, 20>& sha1) const;
    std::vector<std::size_t> entriesWithMd5(const std::array<std::uint8_t, 16>& md5) const;
    // The block the store reads, as DatStore::open took it.
    const std::uint8_t* block() const { return block_.get(); }
    std::size_t blockLength() const { return length_; }
    // Whether every byte of the block is as the cache wrote it; always so for a block that
    // was not mapped from a cache.
    bool intact() const;

  private:
    DatStore() = default;
    // Whether the bytes at `at` are as the cache wrote them, as far as they were checked
    // already (`whole`) and now.
    bool looked(bool& whole, const std::uint8_t* at, std::size_t length) const {
        return whole = whole && (!chunks_ || chunks_->verify(at, length));
    }
    std::string_view text(const std::uint8_t* at, bool& whole) const;
    std::string_view shortText(std::uint16_t number, bool& whole) const;
    // The store of the same entries read again from the DAT, for a block found damaged; none
    // when they cannot be had.
    const DatStore* reread() const;
    const DatStore* instead() const { return instead_.load(std::memory_order_acquire); }
    // Adds to `found` the entries whose `length` bytes at `hashes` are `hash` and whose flags
    // have `flag`; false when the block is found damaged on the way.
    bool scanHashes(const std::uint8_t* hashes, std::uint8_t flag, const std::uint8_t* hash,
                    std::size_t length, std::vector<std::size_t>& found) const;

    std::shared_ptr<const std::uint8_t[]> block_;
    DatFormat format_ = DatFormat::None;
    std::size_t length_ = 0, count_ = 0, sets_ = 0, texts_ = 0, poolBytes_ = 0;
    std::size_t sha1Count_ = 0, md5Count_ = 0;
    const std::uint8_t* keys_ = nullptr;
    const std::uint8_t* entries_ = nullptr;
    // None when no entry has one.
    const std::uint8_t* sha1s_ = nullptr;
    const std::uint8_t* md5s_ = nullptr;
    const std::uint8_t* setTable_ = nullptr;
    const std::uint8_t* textTable_ = nullptr;
    const std::uint8_t* pool_ = nullptr;
    std::shared_ptr<const DatBlockSource> source_;
    const ChunkChecks* chunks_ = nullptr;
    std::size_t file_ = 0;
    mutable std::once_flag rereadOnce_;
    mutable std::shared_ptr<const DatStore> reread_;
    mutable std::atomic<const DatStore*> instead_{nullptr};
};

}  // namespace chipsight
