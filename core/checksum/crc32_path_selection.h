// Which CRC-32 implementation Crc32 runs, and, for tests and benchmarks only, forcing another.
// The program itself never switches paths; it keeps the one chosen from the processor's features,
// and crc32ForcePath is only in the library the tests, benchmarks and fuzz targets link.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace chipsight {

enum class Crc32Path { Portable, Pclmul, VpclmulAvx2, VpclmulAvx512 };

inline constexpr Crc32Path kAllCrc32Paths[] = {Crc32Path::Portable, Crc32Path::Pclmul,
                                               Crc32Path::VpclmulAvx2, Crc32Path::VpclmulAvx512};

const char* crc32PathName(Crc32Path path);

// Whether this build and this processor (and its operating system) can run the path.
bool crc32PathSupported(Crc32Path path);

// The path the selection picks on this processor.
Crc32Path crc32BestPath();

// Makes Crc32 use `path` from now on. Returns false, and changes nothing, when the path is not
// supported here. Not safe against concurrent calls of Crc32.
bool crc32ForcePath(Crc32Path path);

Crc32Path crc32ActivePath();

namespace crc32_detail {

using Implementation = std::uint32_t (*)(std::uint32_t, const std::uint8_t*, std::size_t);
struct PathInfo {
    Crc32Path path;
    const char* name;
    Implementation run;
};
// The path Crc32 runs, and the path of a name: nothing when this build has none.
std::atomic<const PathInfo*>& active();
const PathInfo* find(Crc32Path path);

}  // namespace crc32_detail

}  // namespace chipsight
