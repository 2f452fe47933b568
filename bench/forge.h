// Dumps forged to a checksum, for the benchmarks: a board of any machine whose
// checksums a database gives can be stood up without its ROMs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

// `size` random bytes (drawn from `seed`) whose CRC-32 is `crc`: the last four are solved for
// it. `size` is at least 4.
std::vector<std::uint8_t> bytesWithCrc(std::uint32_t crc, std::size_t size, std::uint32_t seed = 1);

}  // namespace bench
