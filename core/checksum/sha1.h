// The SHA-1 of bytes, as DATs give it for a ROM beside its CRC-32.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace chipsight {

std::array<std::uint8_t, 20> sha1Of(std::span<const std::uint8_t> bytes);

}  // namespace chipsight
