// Archives: any bytes as a file that readArchive opens. Whatever libarchive makes of them,
// every member handed on as read must have the digest of the very bytes it holds, every part of
// every level, whether its length was known ahead or only at its end, and the unpacked bytes
// stay within the bound given.
#include <cstdlib>
#include <fstream>

#include "core/checksum/crc32.h"
#include "core/input/archive.h"
#include "fuzz/fuzz_support.h"

using namespace chipsight;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzing::workDirectory() + "/archive";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    constexpr std::uint64_t limit = 1 << 20;
    constexpr int levels = 3;
    std::uint64_t seen = 0;
    readArchive(
        path, levels, true,
        [&](ArchiveMember& m) {
            if (m.image.status != ImageStatus::Read) return;
            seen += m.bytes.size();
            if (!m.bytesKept || m.bytes.size() != m.image.length ||
                m.image.digest.crc() != crc32Portable(0, m.bytes.data(), m.bytes.size()) ||
                seen > limit)
                std::abort();
            ImageDigest expected(m.image.length, levels);
            expected.add(m.bytes);
            expected.finish();
            const ImageDigest& got = m.image.digest;
            if (got.allBits() != expected.allBits() || got.anyBits() != expected.anyBits())
                std::abort();
            for (int level = 0; level < levels; ++level)
                for (std::uint32_t part = 0; part < 1u << level; ++part)
                    if (got.partCrc(level, part) != expected.partCrc(level, part)) std::abort();
        },
        limit);
    return 0;
}
