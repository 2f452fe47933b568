// The switch between CRC-32 paths: only the tests, benchmarks and fuzz targets link it, so that
// every path runs on a processor that would pick the fastest.
#include "core/checksum/crc32_path_selection.h"

namespace chipsight {

bool crc32ForcePath(Crc32Path path) {
    if (!crc32PathSupported(path)) return false;
    crc32_detail::active().store(crc32_detail::find(path), std::memory_order_relaxed);
    return true;
}

}  // namespace chipsight
