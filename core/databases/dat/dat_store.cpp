#include "core/databases/dat/dat_store.h"

#include <cstring>
#include <limits>
#include <new>

namespace chipsight {
namespace {

constexpr char kMagic[8] = {'C', 'S', 'D', 'A', 'T', 'S', 'T', 'O'};
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::size_t kHeaderBytes = DatStore::kHeaderBytes;
constexpr std::size_t kKeyBytes = 8;
constexpr std::size_t kEntryBytes = 48;
constexpr std::size_t kTextBytes = 8;
constexpr std::size_t kSetBytes = 3 * kTextBytes;

constexpr std::uint8_t kBadDump = 1, kHasOffset = 2, kHasSha1 = 4;

std::uint16_t u16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint64_t u64(const std::uint8_t* p) { return u32(p) | std::uint64_t(u32(p + 4)) << 32; }

class Writer {
  public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
    void u16(std::uint16_t v) { bytes(v, 2); }
    void u32(std::uint32_t v) { bytes(v, 4); }
    void u64(std::uint64_t v) { bytes(v, 8); }
    void raw(const void* p, std::size_t n) {
        if (n == 0) return;
        const std::size_t at = out_.size();
        out_.resize(at + n);
        std::memcpy(out_.data() + at, p, n);
    }

  private:
    void bytes(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out_.push_back(std::uint8_t(v >> (8 * i)));
    }
    std::vector<std::uint8_t>& out_;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The 20 bytes of a SHA-1 written as 40 hex digits; none for anything else.
std::optional<std::array<std::uint8_t, 20>> sha1Bytes(std::string_view hex) {
    if (hex.size() != 40) return std::nullopt;
    std::array<std::uint8_t, 20> bytes{};
    for (std::size_t i = 0; i < 20; ++i) {
        const int hi = hexDigit(hex[2 * i]), lo = hexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[i] = std::uint8_t(hi << 4 | lo);
    }
    return bytes;
}

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
    if (const auto sha1 = sha1Bytes(rom.sha1)) {
        e.sha1 = *sha1;
        e.flags |= kHasSha1;
    }
    entries_.push_back(e);
    keys_.push_back(rom.crc);
    keys_.push_back(rom.size);
}

std::vector<std::uint8_t> DatStoreBuilder::finish(DatFormat format) const {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderBytes + entries_.size() * (kKeyBytes + kEntryBytes) +
                sets_.size() * kSetBytes + shortTexts_.size() * kTextBytes + pool_.size());
    Writer w(out);
    w.raw(kMagic, sizeof kMagic);
    w.u32(kLayoutVersion);
    w.u32(std::uint32_t(format));
    w.u64(entries_.size());
    w.u64(sets_.size());
    w.u64(shortTexts_.size());
    w.u64(pool_.size());
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
        w.raw(e.sha1.data(), e.sha1.size());
    }
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
                                               std::size_t file) {
    const std::uint8_t* p = block.get();
    if (length < kHeaderBytes || std::memcmp(p, kMagic, sizeof kMagic) != 0 ||
        u32(p + 8) != kLayoutVersion || u32(p + 12) > std::uint32_t(DatFormat::ClrMamePro))
        return nullptr;
    const std::uint64_t count = u64(p + 16), sets = u64(p + 24), texts = u64(p + 32),
                        pool = u64(p + 40);
    // Each count is below the length of a block in memory (under 2^48 bytes), so none of the
    // products below can overflow.
    if (count > length || sets > length || texts > length || pool > length) return nullptr;
    const std::uint64_t need = kHeaderBytes + count * (kKeyBytes + kEntryBytes) + sets * kSetBytes +
                               texts * kTextBytes + pool;
    if (need != length) return nullptr;
    std::shared_ptr<DatStore> store(new DatStore);
    store->length_ = length;
    store->format_ = DatFormat(u32(p + 12));
    store->count_ = count;
    store->sets_ = sets;
    store->texts_ = texts;
    store->poolBytes_ = pool;
    store->keys_ = p + kHeaderBytes;
    store->entries_ = store->keys_ + count * kKeyBytes;
    store->setTable_ = store->entries_ + count * kEntryBytes;
    store->textTable_ = store->setTable_ + sets * kSetBytes;
    store->pool_ = store->textTable_ + texts * kTextBytes;
    store->block_ = std::move(block);
    store->chunks_ = source ? &source->chunks() : nullptr;
    store->source_ = std::move(source);
    store->file_ = file;
    return store;
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
    return u32(at);
}

std::uint32_t DatStore::romSize(std::size_t i) const {
    if (const DatStore* other = instead()) return other->romSize(i);
    bool whole = true;
    const std::uint8_t* at = keys_ + i * kKeyBytes + 4;
    if (!looked(whole, at, 4))
        if (const DatStore* other = reread()) return other->romSize(i);
    return u32(at);
}

std::string_view DatStore::text(const std::uint8_t* at, bool& whole) const {
    looked(whole, at, kTextBytes);
    const std::uint64_t offset = u32(at), length = u32(at + 4);
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
    if (const std::uint32_t set = u32(e + 8); set < sets_) {
        const std::uint8_t* s = setTable_ + std::size_t(set) * kSetBytes;
        looked(whole, s, kSetBytes);
        info.setName = text(s, whole);
        info.setDescription = text(s + kTextBytes, whole);
        info.listName = text(s + 2 * kTextBytes, whole);
    }
    info.region = shortText(u16(e + 12), whole);
    info.endianness = shortText(u16(e + 14), whole);
    info.loadFlag = shortText(u16(e + 16), whole);
    const std::uint8_t flags = e[18];
    info.dataWidth = e[19];
    info.badDump = flags & kBadDump;
    if (flags & kHasOffset) info.offset = u64(e + 20);
    if (flags & kHasSha1) {
        std::array<std::uint8_t, 20> sha1;
        std::memcpy(sha1.data(), e + 28, sha1.size());
        info.sha1 = sha1;
    }
    if (!whole)
        if (const DatStore* other = reread()) return other->info(i);
    return info;
}

}  // namespace chipsight
