// What identification needs of an image's bytes, taken in one pass as they arrive: the
// checksum of every part at every split level and the AND and OR of all bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace chipsight {

// Identification reads the split level between 1 and 9; anything beyond 9 levels would only
// multiply empty parts.
inline constexpr int kMaxSplitLevels = 9;

// Fed the bytes of an image of `length` bytes in order, in pieces of any size, it checksums the
// parts of the finest level that has bytes in its parts while it goes, and the AND and OR of
// each stretch of bytes right after its checksum, while the stretch is still in the cache.
// Each byte is read once, so everything it tells comes from the same bytes. The coarser levels
// are combined from the finer ones when the last byte has arrived.
class ImageDigest {
  public:
    // `splitLevel` levels are looked up (at most kMaxSplitLevels count; none for 0 or less, when
    // still the whole image's checksum is taken). `length` is 0 or a power of two.
    ImageDigest(std::uint32_t length, int splitLevel);

    // The next `bytes` of the image. Together the pieces must make up `length` bytes.
    void add(std::span<const std::uint8_t> bytes);
    // How many bytes have been added so far.
    std::uint32_t added() const { return added_; }
    // Call once all `length` bytes were added.
    void finish();

    std::uint32_t length() const { return length_; }
    // The levels looked up: the split level within 0 and kMaxSplitLevels.
    int levels() const { return levels_; }
    // The checksum of part `part` of level `level` (0 is the whole image, in 2^level parts).
    std::uint32_t partCrc(int level, std::uint32_t part) const {
        return crcs_[(std::size_t(1) << level) - 1 + part];
    }
    // The CRC-32 of the whole image.
    std::uint32_t crc() const { return crcs_[0]; }
    // The AND and the OR of every byte (0xFF and 0x00 for no bytes).
    std::uint8_t allBits() const { return all_; }
    std::uint8_t anyBits() const { return any_; }

  private:
    friend class UnsizedDigest;
    static constexpr std::size_t kSlots = (std::size_t(1) << kMaxSplitLevels) - 1;

    std::uint32_t length_;
    int levels_;
    int finest_;              // the level whose parts are checksummed from their bytes
    std::uint32_t partSize_;  // the bytes of one of its parts
    std::uint32_t added_ = 0;
    std::uint32_t part_ = 0;  // the part now being checksummed, and its bytes so far
    std::uint32_t inPart_ = 0;
    std::uint32_t running_ = 0;
    std::uint64_t all64_ = ~std::uint64_t(0), any64_ = 0;
    std::uint8_t all_ = 0xFF, any_ = 0x00;
    // Level i at [2^i - 1, 2^(i+1) - 1).
    std::array<std::uint32_t, kSlots> crcs_{};
};

// The digest of bytes whose length is known only once the last has arrived (a compressed
// stream), taken in the same one pass: the checksums of equal blocks a power of two long, at
// most kBlocks of them (two neighbours are combined into one twice as long whenever there would
// be more), and the AND and OR of every byte. In a length that is a power of two, every part of
// every level is a run of whole blocks, so what ImageDigest would give comes out of them at the
// end, and memory stays that of the blocks whatever the length.
class UnsizedDigest {
  public:
    void add(std::span<const std::uint8_t> bytes);
    std::uint64_t added() const { return added_; }
    // The digest at `splitLevel` levels of the bytes added, whose count must be 0 or a power of
    // two below 4 GiB.
    ImageDigest finish(int splitLevel) const;

  private:
    static constexpr std::size_t kBlocks = std::size_t(1) << kMaxSplitLevels;

    std::vector<std::uint32_t> blocks_;  // the checksums of the blocks complete
    std::uint64_t blockSize_ = 1, inBlock_ = 0, added_ = 0;
    std::uint32_t running_ = 0;
    std::uint64_t all64_ = ~std::uint64_t(0), any64_ = 0;
};

// The AND and the OR of every byte of `bytes` folded into `all` and `any`, eight bytes wide.
void accumulateBits(std::span<const std::uint8_t> bytes, std::uint64_t& all, std::uint64_t& any);

}  // namespace chipsight
