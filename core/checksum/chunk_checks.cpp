// Checking the chunks of a mapped file against their checksums, and making the checksums.
#include "core/checksum/chunk_checks.h"

#include <algorithm>
#include <utility>

#include "core/checksum/crc32.h"

namespace chipsight {

ChunkChecks::ChunkChecks(const std::uint8_t* bytes, std::size_t length, const std::uint32_t* sums)
    : bytes_(bytes),
      length_(length),
      sums_(sums),
      whole_(new std::atomic<std::uint64_t>[(chunksFor(length) + 63) / 64]) {
    for (std::size_t i = 0; i < (chunksFor(length) + 63) / 64; ++i) whole_[i] = 0;
}

bool ChunkChecks::check(std::size_t chunk) const {
    const std::size_t at = chunk << kChunkBits;
    const std::size_t length = std::min(kChunkBytes, length_ - at);
    if (Crc32(0, bytes_ + at, std::uint32_t(length)) != sums_[chunk]) return false;
    whole_[chunk >> 6].fetch_or(std::uint64_t(1) << (chunk & 63), std::memory_order_relaxed);
    return true;
}

void ChunkSums::add(const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        const std::size_t take = std::min(length, ChunkChecks::kChunkBytes - inChunk_);
        crc_ = Crc32(crc_, bytes, std::uint32_t(take));
        bytes += take;
        length -= take;
        inChunk_ += take;
        if (inChunk_ == ChunkChecks::kChunkBytes) {
            sums_.push_back(crc_);
            crc_ = 0;
            inChunk_ = 0;
        }
    }
}

std::vector<std::uint32_t> ChunkSums::finish() {
    if (inChunk_ > 0) sums_.push_back(crc_);
    crc_ = 0;
    inChunk_ = 0;
    return std::move(sums_);
}

}  // namespace chipsight
