// For tests and benchmarks only: which CRC-32 implementation Crc32 runs, and forcing another.
// The program itself never switches paths; it keeps the one chosen from the processor's features.
#pragma once

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

}  // namespace chipsight
