// Internal: the processor-specific CRC-32 implementations behind Crc32. Each one has the
// semantics of crc32Portable and may only be called on a processor that supports it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chipsight {

// SSE4.1 and PCLMULQDQ, 128-bit lanes.
std::uint32_t crc32Pclmul(std::uint32_t crc, const std::uint8_t* data, std::size_t length);
// AVX2 and VPCLMULQDQ, 256-bit lanes.
std::uint32_t crc32VpclmulAvx2(std::uint32_t crc, const std::uint8_t* data, std::size_t length);
// AVX-512 (F, VL) and VPCLMULQDQ, 512-bit lanes.
std::uint32_t crc32VpclmulAvx512(std::uint32_t crc, const std::uint8_t* data, std::size_t length);

}  // namespace chipsight
