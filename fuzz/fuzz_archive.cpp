// Archives: any bytes as a file that readArchive opens. Whatever libarchive makes of them,
// every member handed on as read must have the digest of the very bytes it holds, and the
// unpacked bytes stay within the bound given.
#include <cstdlib>
#include <fstream>

#include "core/crc32.h"
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
    std::uint64_t seen = 0;
    readArchive(
        path, 3, true,
        [&](ArchiveMember& m) {
            if (m.image.status != ImageStatus::Read) return;
            seen += m.bytes.size();
            if (!m.bytesKept || m.bytes.size() != m.image.length ||
                m.image.digest.crc() != crc32Portable(0, m.bytes.data(), m.bytes.size()) ||
                seen > limit)
                std::abort();
        },
        limit);
    return 0;
}
