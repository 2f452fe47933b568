// Identification: an image, a split level, Ignore Bad and a table from the fuzzer's bytes; the
// one-pass report must equal the plain per-level reference byte for byte.
#include <cstdlib>

#include "core/checksum/crc32.h"
#include "core/identify/identify.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/reference_report.h"

using namespace chipsight;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::Input in(data, size);
    const std::uint8_t options = in.byte();
    const int level = int(options & 0x0F) - 2;  // -2 to 13
    const bool ignoreBad = options & 0x10;
    const std::uint8_t picks = in.byte();
    auto image = in.rest();
    // Identification only sees powers of two.
    {
        std::size_t p = 1;
        while (p * 2 <= image.size()) p *= 2;
        image.resize(image.empty() ? 0 : p);
    }
    if (options & 0x40)
        for (std::size_t i = image.size() / 2; i < image.size(); ++i) image[i] = 0xFF;

    // Entries for parts of the image itself, so that matches happen, plus one near miss.
    EntryTable entries;
    for (int k = 0; k < (picks & 7); ++k) {
        const int l = (picks >> 3) % 9 + k;
        const std::size_t parts = std::size_t(1) << (l % 9), partSize = image.size() / parts;
        const std::size_t j = (std::size_t(picks) * 31 + std::size_t(k)) % parts;
        RomEntry e;
        e.crc = crc32Portable(0, image.data() + j * partSize, partSize);
        e.size = std::uint32_t(partSize);
        writeField(e.name, "part");
        entries.push_back(e);
        e.crc ^= 0x80000000u;
        entries.push_back(e);
    }
    const std::string name = "dump\n.bin";
    if (buildReport(entries, image, name, level, ignoreBad).block !=
        testing::referenceReport(entries, image, name, level, ignoreBad))
        std::abort();
    return 0;
}
