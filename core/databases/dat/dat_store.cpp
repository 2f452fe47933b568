#include "core/databases/dat/dat_store.h"

#include <cstring>
#include <limits>
#include <new>

#include "core/sys/byte_order.h"
#include "core/sys/number_reading.h"

namespace chipsight {
namespace {

constexpr char kMagic[8] = {'C', 'S', 'D', 'A', 'T', 'S', 'T', 'O'};
// A block of another version is never read: the cache's blocks of version 1 held the SHA-1 in
// the entries and no MD5.
constexpr std::uint32_t kLayoutVersion = 2;
constexpr std::size_t kHeaderBytes = DatStore::kHeaderBytes;
constexpr std::size_t kKeyBytes = 8;
constexpr std::size_t kEntryBytes = 28;
constexpr std::size_t kSha1Bytes = 20, kMd5Bytes = 16;
constexpr std::size_t kTextBytes = 8;
constexpr std::size_t kSetBytes = 3 * kTextBytes;

constexpr std::uint8_t kBadDump = 1, kHasOffset = 2, kHasSha1 = 4, kHasMd5 = 8;

class Writer {
  public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
    void u16(std::uint16_t v) { store16(grow(2), v); }
    void u32(std::uint32_t v) { store32(grow(4), v); }
    void u64(std::uint64_t v) { store64(grow(8), v); }
    void raw(const void* p, std::size_t n) {
        if (n == 0) return;
        const std::size_t at = out_.size();
        out_.resize(at + n);
        std::memcpy(out_.data() + at, p, n);
    }

  private:
    std::uint8_t* grow(std::size_t n) {
        out_.resize(out_.size() + n);
        return out_.data() + out_.size() - n;
    }
    std::vector<std::uint8_t>& out_;
};

}  // namespace

std::string datEntryDescription(const DatEntryInfo& info) {
    std::string text(info.setDescription);
    text += " [";
    if (!info.listName.empty()) {
        text += info.listName;
        text += ':';
    }
    text += info.setName;
    text += ']';
    if (info.badDump) text += " (BAD DUMP)";
    return text;
}

DatStoreBuilder::Text DatStoreBuilder::add(std::string_view text) {
    // A pool past 4 GiB cannot be addressed: its texts then read empty, the entries stay.
    if (pool_.size() + text.size() > std::numeric_limits<std::uint32_t>::max()) return {};
    const Text t{std::uint32_t(pool_.size()), std::uint32_t(text.size())};
    pool_ += text;
    return t;
}

std::uint16_t DatStoreBuilder::shortText(std::string_view text) {
    if (text.empty()) return 0;
    const auto found = shortTextNumbers_.find(std::string(text));
    if (found != shortTextNumbers_.end()) return found->second;
    // Regions, byte orders and load flags are few; past 65,535 different ones, none is kept.
    if (shortTexts_.size() == std::numeric_limits<std::uint16_t>::max()) return 0;
    shortTexts_.push_back(add(text));
    const auto number = std::uint16_t(shortTexts_.size());
    shortTextNumbers_.emplace(std::string(text), number);
    return number;
}

void DatStoreBuilder::rom(const DatRom& rom) {
    // The ROMs of one set arrive together: a set is stored once, when it first differs.
    if (sets_.empty() || textOf(sets_.back().name) != rom.setName ||
        textOf(sets_.back().description) != rom.setDescription ||
        textOf(sets_.back().list) != rom.listName)
        sets_.push_back({add(rom.setName), add(rom.setDescription), add(rom.listName)});
    Entry e{};
    e.name = add(rom.name);
    e.set = std::uint32_t(sets_.size() - 1);
    e.region = shortText(rom.region);
    e.endianness = shortText(rom.endianness);
    e.loadFlag = shortText(rom.loadFlag);
    e.dataWidth = std::uint8_t(rom.dataWidth <= 255 ? rom.dataWidth : 0);
    e.flags = std::uint8_t((rom.badDump ? kBadDump : 0) | (rom.hasOffset ? kHasOffset : 0));
    e.offset = rom.hasOffset ? rom.offset : 0;
    if (const auto sha1 = sha1FromHex(rom.sha1)) {
        e.sha1 = *sha1;
        e.flags |= kHasSha1;
        ++sha1s_;
    }
    if (const auto md5 = md5FromHex(rom.md5)) {
        e.md5 = *md5;
        e.flags |= kHasMd5;
        ++md5s_;
    }
    entries_.push_back(e);
    keys_.push_back(rom.crc);
    keys_.push_back(rom.size);
}

std::vector<std::uint8_t> DatStoreBuilder::finish(DatFormat format) const {
    std::vector<std::uint8_t> out;
    const std::size_t hashBytes = (sha1s_ != 0 ? kSha1Bytes : 0) + (md5s_ != 0 ? kMd5Bytes : 0);
    out.reserve(kHeaderBytes + entries_.size() * (kKeyBytes + kEntryBytes + hashBytes) +
                sets_.size() * kSetBytes + shortTexts_.size() * kTextBytes + pool_.size());
    Writer w(out);
    w.raw(kMagic, sizeof kMagic);
    w.u32(kLayoutVersion);
    w.u32(std::uint32_t(format));
    w.u64(entries_.size());
    w.u64(sets_.size());
    w.u64(shortTexts_.size());
    w.u64(pool_.size());
    w.u64(sha1s_);
    w.u64(md5s_);
    for (const std::uint32_t k : keys_) w.u32(k);
    const auto text = [&](Text t) {
        w.u32(t.offset);
        w.u32(t.length);
    };
    for (const Entry& e : entries_) {
        text(e.name);
        w.u32(e.set);
        w.u16(e.region);
        w.u16(e.endianness);
        w.u16(e.loadFlag);
        w.raw(&e.flags, 1);
        w.raw(&e.dataWidth, 1);
        w.u64(e.offset);
    }
    if (sha1s_ != 0)
        for (const Entry& e : entries_) w.raw(e.sha1.data(), e.sha1.size());
    if (md5s_ != 0)
        for (const Entry& e : entries_) w.raw(e.md5.data(), e.md5.size());
    for (const Set& s : sets_) {
        text(s.name);
        text(s.description);
        text(s.list);
    }
    for (const Text t : shortTexts_) text(t);
    w.raw(pool_.data(), pool_.size());
    return out;
}

std::shared_ptr<const DatStore> DatStore::open(std::shared_ptr<const std::uint8_t[]> block,
                                               std::size_t length,
                                               std::shared_ptr<const DatBlockSource> source,
                                               std::size_t file, const std::uint8_t* header) {
    std::shared_ptr<DatStore> store(new DatStore);
    if (!openIn(*store, std::move(block), length, std::move(source), file, header)) return nullptr;
    return store;
}

bool DatStore::openIn(DatStore& store, std::shared_ptr<const std::uint8_t[]> block,
                      std::size_t length, std::shared_ptr<const DatBlockSource> source,
                      std::size_t file, const std::uint8_t* header) {
    const std::uint8_t* p = block.get();
    const std::uint8_t* h = header ? header : p;
    if (length < kHeaderBytes || std::memcmp(h, kMagic, sizeof kMagic) != 0 ||
        load32(h + 8) != kLayoutVersion || load32(h + 12) > std::uint32_t(DatFormat::ClrMamePro))
        return false;
    const std::uint64_t count = load64(h + 16), sets = load64(h + 24), texts = load64(h + 32),
                        pool = load64(h + 40), sha1s = load64(h + 48), md5s = load64(h + 56);
    // Each count is below the length of a block in memory (under 2^48 bytes), so none of the
    // products below can overflow.
    if (count > length || sets > length || texts > length || pool > length || sha1s > count ||
        md5s > count)
        return false;
    const std::uint64_t sha1Bytes = sha1s != 0 ? count * kSha1Bytes : 0,
                        md5Bytes = md5s != 0 ? count * kMd5Bytes : 0;
    const std::uint64_t need = kHeaderBytes + count * (kKeyBytes + kEntryBytes) + sha1Bytes +
                               md5Bytes + sets * kSetBytes + texts * kTextBytes + pool;
    if (need != length) return false;
    store.length_ = length;
    store.format_ = DatFormat(load32(h + 12));
    store.count_ = count;
    store.sets_ = sets;
    store.texts_ = texts;
    store.poolBytes_ = pool;
    store.sha1Count_ = sha1s;
    store.md5Count_ = md5s;
    store.keys_ = p + kHeaderBytes;
    store.entries_ = store.keys_ + count * kKeyBytes;
    const std::uint8_t* hashes = store.entries_ + count * kEntryBytes;
    if (sha1s != 0) store.sha1s_ = hashes;
    if (md5s != 0) store.md5s_ = hashes + sha1Bytes;
    store.setTable_ = hashes + sha1Bytes + md5Bytes;
    store.textTable_ = store.setTable_ + sets * kSetBytes;
    store.pool_ = store.textTable_ + texts * kTextBytes;
    store.block_ = std::move(block);
    store.chunks_ = source ? &source->chunks() : nullptr;
    store.source_ = std::move(source);
    store.file_ = file;
    return true;
}

bool DatStore::intact() const {
    bool whole = !instead();
    return looked(whole, block_.get(), length_);
}

const DatStore* DatStore::reread() const {
    std::call_once(rereadOnce_, [&] {
        if (!source_) return;
        try {
            reread_ = source_->reread(file_);
        } catch (const std::bad_alloc&) {
            // No memory to read the DAT again: the block is read as it is.
        }
        if (reread_ && reread_->size() == count_)
            instead_.store(reread_.get(), std::memory_order_release);
    });
    return instead();
}

std::uint32_t DatStore::crc(std::size_t i) const {
    if (const DatStore* other = instead()) return other->crc(i);
    bool whole = true;
    const std::uint8_t* at = keys_ + i * kKeyBytes;
    if (!looked(whole, at, 4))
        if (const DatStore* other = reread()) return other->crc(i);
    return load32(at);
}

std::uint32_t DatStore::romSize(std::size_t i) const {
    if (const DatStore* other = instead()) return other->romSize(i);
    bool whole = true;
    const std::uint8_t* at = keys_ + i * kKeyBytes + 4;
    if (!looked(whole, at, 4))
        if (const DatStore* other = reread()) return other->romSize(i);
    return load32(at);
}

std::string_view DatStore::text(const std::uint8_t* at, bool& whole) const {
    looked(whole, at, kTextBytes);
    const std::uint64_t offset = load32(at), length = load32(at + 4);
    if (offset + length > poolBytes_) return {};
    looked(whole, pool_ + offset, std::size_t(length));
    return {reinterpret_cast<const char*>(pool_ + offset), std::size_t(length)};
}

std::string_view DatStore::shortText(std::uint16_t number, bool& whole) const {
    if (number == 0 || number > texts_) return {};
    return text(textTable_ + (number - 1) * kTextBytes, whole);
}

DatEntryInfo DatStore::info(std::size_t i) const {
    if (const DatStore* other = instead()) return other->info(i);
    // Read first and checked as it goes: a read within the block is safe whatever it holds.
    bool whole = true;
    const std::uint8_t* e = entries_ + i * kEntryBytes;
    looked(whole, e, kEntryBytes);
    DatEntryInfo info;
    info.name = text(e, whole);
    if (const std::uint32_t set = load32(e + 8); set < sets_) {
        const std::uint8_t* s = setTable_ + std::size_t(set) * kSetBytes;
        looked(whole, s, kSetBytes);
        info.setName = text(s, whole);
        info.setDescription = text(s + kTextBytes, whole);
        info.listName = text(s + 2 * kTextBytes, whole);
    }
    info.region = shortText(load16(e + 12), whole);
    info.endianness = shortText(load16(e + 14), whole);
    info.loadFlag = shortText(load16(e + 16), whole);
    const std::uint8_t flags = e[18];
    info.dataWidth = e[19];
    info.badDump = flags & kBadDump;
    if (flags & kHasOffset) info.offset = load64(e + 20);
    // A flag without its part (a damaged block) says nothing.
    if ((flags & kHasSha1) && sha1s_) {
        const std::uint8_t* at = sha1s_ + i * kSha1Bytes;
        looked(whole, at, kSha1Bytes);
        info.sha1.emplace();
        std::memcpy(info.sha1->data(), at, kSha1Bytes);
    }
    if ((flags & kHasMd5) && md5s_) {
        const std::uint8_t* at = md5s_ + i * kMd5Bytes;
        looked(whole, at, kMd5Bytes);
        info.md5.emplace();
        std::memcpy(info.md5->data(), at, kMd5Bytes);
    }
    if (!whole)
        if (const DatStore* other = reread()) return other->info(i);
    return info;
}

bool DatStore::scanHashes(const std::uint8_t* hashes, std::uint8_t flag, const std::uint8_t* hash,
                          std::size_t length, std::vector<std::size_t>& found) const {
    if (!hashes) return true;
    bool whole = true;
    if (!looked(whole, hashes, count_ * length)) return false;
    // The first eight bytes tell nearly every entry apart, compared as one word.
    std::uint64_t head;
    std::memcpy(&head, hash, sizeof head);
    for (std::size_t i = 0; i < count_; ++i) {
        const std::uint8_t* at = hashes + i * length;
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        if (word != head || std::memcmp(at + 8, hash + 8, length - 8) != 0) continue;
        // An entry without one holds zeros there, which a typed hash may be.
        const std::uint8_t* e = entries_ + i * kEntryBytes;
        if (!looked(whole, e, kEntryBytes)) return false;
        if (e[18] & flag) found.push_back(i);
    }
    return true;
}

std::vector<std::size_t> DatStore::entriesWithSha1(const std::array<std::uint8_t, 20>& sha1) const {
    if (const DatStore* other = instead()) return other->entriesWithSha1(sha1);
    std::vector<std::size_t> found;
    if (!scanHashes(sha1s_, kHasSha1, sha1.data(), sha1.size(), found))
        if (const DatStore* other = reread()) return other->entriesWithSha1(sha1);
    return found;
}

std::vector<std::size_t> DatStore::entriesWithMd5(const std::array<std::uint8_t, 16>& md5) const {
    if (const DatStore* other = instead()) return other->entriesWithMd5(md5);
    std::vector<std::size_t> found;
    if (!scanHashes(md5s_, kHasMd5, md5.data(), md5.size(), found))
        if (const DatStore* other = reread()) return other->entriesWithMd5(md5);
    return found;
}

}  // namespace chipsight
