// Checksums over the chunks of a mapped file, each chunk checked the first time anything in it
// is read: a start trusts what it reads of a large file only after checking it, and pays for
// the few chunks it reads, not for the whole file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace chipsight {

class ChunkChecks {
  public:
    static constexpr unsigned kChunkBits = 12;
    static constexpr std::size_t kChunkBytes = std::size_t(1) << kChunkBits;

    // How many chunks `length` bytes take.
    static std::size_t chunksFor(std::size_t length) {
        return (length + kChunkBytes - 1) >> kChunkBits;
    }

    // Over the `length` bytes at `bytes`, whose chunk i (the last one shorter) has the CRC-32
    // `sums[i]`. Both stay where they are for the life of the object.
    ChunkChecks(const std::uint8_t* bytes, std::size_t length, const std::uint32_t* sums);

    // Whether the `length` bytes at `at` lie within the bytes covered and every chunk they touch
    // holds what was written. A chunk found whole is not checked again.
    bool verify(const void* at, std::size_t length) const {
        const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(at);
        const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(bytes_);
        if (from < base || from - base > length_ || length > length_ - (from - base)) return false;
        if (length == 0) return true;
        const std::size_t last = (from - base + length - 1) >> kChunkBits;
        for (std::size_t c = (from - base) >> kChunkBits; c <= last; ++c)
            if (!(whole_[c >> 6].load(std::memory_order_relaxed) >> (c & 63) & 1) && !check(c))
                return false;
        return true;
    }

  private:
    bool check(std::size_t chunk) const;

    const std::uint8_t* bytes_;
    std::size_t length_;
    const std::uint32_t* sums_;
    // One bit for each chunk found whole.
    std::unique_ptr<std::atomic<std::uint64_t>[]> whole_;
};

// The CRC-32 of each chunk of bytes given in pieces, as ChunkChecks takes them.
class ChunkSums {
  public:
    void add(const std::uint8_t* bytes, std::size_t length);
    // The sums of every chunk, the last one as far as it goes.
    std::vector<std::uint32_t> finish();

  private:
    std::vector<std::uint32_t> sums_;
    std::uint32_t crc_ = 0;
    std::size_t inChunk_ = 0;
};

}  // namespace chipsight
