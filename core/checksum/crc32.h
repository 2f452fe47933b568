// CRC-32 (ISO 3309 / ITU-T V.42, reflected polynomial 0xEDB88320) as a running value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chipsight {

// Continues `crc` over `length` bytes at `data`. Started from 0, the result is the CRC-32 of
// the bytes; passing each result on over consecutive pieces gives the value of one call over
// the whole. A null `data` gives 0 whatever `crc` is; a zero length gives `crc` unchanged.
// Uses the fastest implementation the processor supports.
std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::uint32_t length);

// The portable table-driven implementation, eight bytes a step: the reference that every
// faster path must agree with.
std::uint32_t crc32Portable(std::uint32_t crc, const std::uint8_t* data, std::size_t length);

// The portable path's table: the step of the CRC register (without the inversions at its ends)
// over one byte b is table[(r ^ b) & 0xFF] ^ r >> 8.
const std::uint32_t* crc32ByteTable();

// The CRC-32 of A followed by B, from the CRC-32 of A, the CRC-32 of B and the length of B.
std::uint32_t crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t lengthB);

}  // namespace chipsight
