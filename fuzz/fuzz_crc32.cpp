// Checksums: every processor path, split computation and combination against the portable
// reference.
#include <cstdlib>

#include "core/checksum/crc32.h"
#include "core/checksum/crc32_path_selection.h"
#include "fuzz/fuzz_support.h"

using namespace chipsight;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::Input in(data, size);
    const std::uint32_t seed = std::uint32_t(in.u16()) * 0x10001u;
    const std::uint16_t split = in.u16();
    const auto bytes = in.rest();
    const auto n = std::uint32_t(bytes.size());
    const std::uint32_t cut = n ? split % (n + 1) : 0;
    const std::uint32_t reference = crc32Portable(seed, bytes.data(), n);
    for (const Crc32Path path : kAllCrc32Paths) {
        if (!crc32ForcePath(path)) continue;
        if (Crc32(seed, bytes.data(), n) != reference) std::abort();
        if (Crc32(Crc32(seed, bytes.data(), cut), bytes.data() + cut, n - cut) != reference)
            std::abort();
    }
    crc32ForcePath(crc32BestPath());
    const std::uint32_t a = crc32Portable(0, bytes.data(), cut);
    const std::uint32_t b = crc32Portable(0, bytes.data() + cut, n - cut);
    if (crc32Combine(a, b, n - cut) != crc32Portable(0, bytes.data(), n)) std::abort();
    return 0;
}
