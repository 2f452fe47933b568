// The one-pass report against the plain per-level reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "core/crc32.h"
#include "core/identify.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

TEST(OnePassReport, EqualsTheReferenceOnRandomImagesLevelsAndTables) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 400; ++round) {
        const int bits = int(rng() % 17);
        std::size_t length = round % 7 == 0 ? 0 : std::size_t(1) << bits;
        std::vector<std::uint8_t> image(length);
        const int style = int(rng() % 4);
        for (auto& b : image)
            b = style == 0 ? 0xFF : style == 1 ? std::uint8_t(rng() & 0x3F) : std::uint8_t(rng());
        if (style == 3 && length >= 2)
            std::fill(image.begin() + std::ptrdiff_t(length / 2), image.end(),
                      0xFF);  // blank upper half

        // Entries for some real parts (twice for some), and noise.
        EntryTable entries;
        for (int k = 0; k < 6; ++k) {
            const int level = int(rng() % 9);
            const std::size_t parts = std::size_t(1) << level, size = length / parts;
            const std::size_t j = rng() % parts;
            const std::uint32_t crc = crc32Portable(0, image.data() + j * size, size);
            const int copies = 1 + int(rng() % 2);
            for (int c = 0; c < copies; ++c)
                entries.push_back(
                    testing::makeEntry(crc, std::uint32_t(size), testing::numbered("P", k), "d"));
            entries.push_back(testing::makeEntry(crc ^ 1, std::uint32_t(size), "noise", "x"));
        }
        const int level = int(rng() % 12) - 1;
        const bool ignoreBad = rng() % 2;
        ASSERT_EQ(buildReport(entries, image, "img.bin", level, ignoreBad).block,
                  testing::referenceReport(entries, image, "img.bin", level, ignoreBad))
            << "length " << length << " level " << level << " ignoreBad " << ignoreBad;
    }
}

// The digest taken as the bytes arrive, in pieces of any size (as reading a file gives them),
// reports what the reference does from the whole image.
TEST(OnePassReport, DigestsFedInPiecesOfAnySizeEqualTheReference) {
    std::mt19937 rng(20260114);
    for (int round = 0; round < 200; ++round) {
        const std::size_t length = round % 11 == 0 ? 0 : std::size_t(1) << (rng() % 19);
        std::vector<std::uint8_t> image(length);
        const int style = int(rng() % 3);
        for (auto& b : image)
            b = style == 0 ? 0xFF : style == 1 ? std::uint8_t(rng() & 0xF7) : std::uint8_t(rng());
        EntryTable entries;
        for (int k = 0; k < 4; ++k) {
            const int level = int(rng() % 9);
            const std::size_t parts = std::size_t(1) << level, size = length / parts;
            const std::size_t j = rng() % parts;
            entries.push_back(testing::makeEntry(crc32Portable(0, image.data() + j * size, size),
                                                 std::uint32_t(size), testing::numbered("P", k),
                                                 "d"));
        }
        const int level = int(rng() % 11) - 1;
        const bool ignoreBad = rng() % 2;
        ImageDigest digest(std::uint32_t(length), level);
        for (std::size_t at = 0; at < length;) {
            // Pieces from one byte to past a part or a stretch, now and then empty.
            const std::size_t piece =
                std::min<std::size_t>(length - at, rng() % 4 == 0 ? rng() % 8 : rng() % 70000);
            digest.add({image.data() + at, piece});
            at += piece;
        }
        ASSERT_EQ(digest.added(), length);
        digest.finish();
        ASSERT_EQ(buildReport(entries, digest, "img.bin", ignoreBad).block,
                  testing::referenceReport(entries, image, "img.bin", level, ignoreBad))
            << "length " << length << " level " << level << " ignoreBad " << ignoreBad;
    }
}

}  // namespace
}  // namespace chipsight
