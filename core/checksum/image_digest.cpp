// One pass over an image's bytes: part checksums, then the bits of the same stretch in cache.
#include "core/checksum/image_digest.h"

#include <algorithm>
#include <cstring>

#include "core/checksum/crc32.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace chipsight {
namespace {

// The stretch that is checksummed and then ANDed and ORed while it still sits in the first-level
// cache.
constexpr std::uint32_t kStretch = 16 << 10;

}  // namespace

void accumulateBits(std::span<const std::uint8_t> bytes, std::uint64_t& all, std::uint64_t& any) {
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
#if defined(__SSE2__)
    if (n >= 64) {
        __m128i a0 = _mm_set1_epi8(-1), a1 = a0, o0 = _mm_setzero_si128(), o1 = o0;
        for (; n >= 64; p += 64, n -= 64) {
            const __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            const __m128i d2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
            const __m128i d3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
            a0 = _mm_and_si128(a0, _mm_and_si128(d0, d1));
            a1 = _mm_and_si128(a1, _mm_and_si128(d2, d3));
            o0 = _mm_or_si128(o0, _mm_or_si128(d0, d1));
            o1 = _mm_or_si128(o1, _mm_or_si128(d2, d3));
        }
        const __m128i a = _mm_and_si128(a0, a1), o = _mm_or_si128(o0, o1);
        std::uint64_t lanes[4];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 2), o);
        all &= lanes[0] & lanes[1];
        any |= lanes[2] | lanes[3];
    }
#endif
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        all &= word;
        any |= word;
    }
    if (n != 0) {
        // The last bytes, padded with bytes that change neither accumulator.
        std::uint64_t ones = ~std::uint64_t(0), zeros = 0;
        std::memcpy(&ones, p, n);
        std::memcpy(&zeros, p, n);
        all &= ones;
        any |= zeros;
    }
}

ImageDigest::ImageDigest(std::uint32_t length, int splitLevel)
    : length_(length), levels_(std::clamp(splitLevel, 0, kMaxSplitLevels)) {
    // Parts of a power of two nest: each checksum of a level combines two of the level below, so
    // only the finest level that still has bytes in its parts reads the image. Without any level
    // the whole image is still checksummed, for the Not Found line.
    finest_ = std::max(levels_, 1) - 1;
    while (finest_ > 0 && (std::uint32_t(1) << finest_) > length) --finest_;
    partSize_ = length >> finest_;
}

void ImageDigest::add(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    std::size_t n = std::min<std::size_t>(bytes.size(), length_ - added_);
    added_ += std::uint32_t(n);
    const std::size_t finestAt = (std::size_t(1) << finest_) - 1;
    while (n != 0) {
        const auto take = std::uint32_t(std::min<std::size_t>({n, partSize_ - inPart_, kStretch}));
        running_ = Crc32(running_, p, take);
        accumulateBits({p, take}, all64_, any64_);
        p += take;
        n -= take;
        inPart_ += take;
        if (inPart_ == partSize_) {
            crcs_[finestAt + part_++] = running_;
            running_ = 0;
            inPart_ = 0;
        }
    }
}

void ImageDigest::finish() {
    for (int shift = 0; shift < 64; shift += 8) {
        all_ &= std::uint8_t(all64_ >> shift);
        any_ |= std::uint8_t(any64_ >> shift);
    }
    // Coarser levels from finer ones; finer levels than the finest have parts of no bytes, whose
    // checksum is 0 as the array already holds.
    for (int i = finest_ - 1; i >= 0; --i) {
        const std::size_t at = (std::size_t(1) << i) - 1, finer = (std::size_t(2) << i) - 1;
        const std::uint32_t half = length_ >> (i + 1);
        for (std::size_t j = 0; j < (std::size_t(1) << i); ++j)
            crcs_[at + j] = crc32Combine(crcs_[finer + 2 * j], crcs_[finer + 2 * j + 1], half);
    }
}

void UnsizedDigest::add(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    added_ += n;
    while (n != 0) {
        const auto take =
            std::uint32_t(std::min<std::uint64_t>({n, blockSize_ - inBlock_, kStretch}));
        running_ = Crc32(running_, p, take);
        accumulateBits({p, take}, all64_, any64_);
        p += take;
        n -= take;
        inBlock_ += take;
        if (inBlock_ == blockSize_) {
            if (blocks_.empty()) blocks_.reserve(kBlocks);
            blocks_.push_back(running_);
            running_ = 0;
            inBlock_ = 0;
            if (blocks_.size() == kBlocks) {
                for (std::size_t i = 0; i < kBlocks / 2; ++i)
                    blocks_[i] = crc32Combine(blocks_[2 * i], blocks_[2 * i + 1], blockSize_);
                blocks_.resize(kBlocks / 2);
                blockSize_ *= 2;
            }
        }
    }
}

ImageDigest UnsizedDigest::finish(int splitLevel) const {
    ImageDigest digest(std::uint32_t(added_), splitLevel);
    // Blocks are a byte long until kBlocks of them have arrived, and at least kBlocks / 2 make
    // up the length after that: in a length that is a power of two, each part of the finest
    // level (there are at most kBlocks / 2) is a run of whole blocks.
    const std::uint64_t perPart = digest.partSize_ / blockSize_;
    const std::size_t finestAt = (std::size_t(1) << digest.finest_) - 1;
    for (std::size_t part = 0; perPart != 0 && (part + 1) * perPart <= blocks_.size(); ++part) {
        std::uint32_t crc = blocks_[part * perPart];
        for (std::uint64_t i = 1; i < perPart; ++i)
            crc = crc32Combine(crc, blocks_[part * perPart + i], blockSize_);
        digest.crcs_[finestAt + part] = crc;
    }
    digest.added_ = digest.length_;
    digest.all64_ = all64_;
    digest.any64_ = any64_;
    digest.finish();
    return digest;
}

}  // namespace chipsight
