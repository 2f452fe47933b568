// An image file read whole into memory, for the doctor, which looks at its bytes in many orders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/input/image_file.h"

namespace chipsight::doctor {

struct WholeImage {
    ImageStatus status = ImageStatus::CannotOpen;
    std::vector<std::uint8_t> bytes;
};

// Reads the file at `path` under a shared lock, refusing what identification refuses (a length
// of 4 GiB or more, or not a power of two) and leaving out a known header, as readImageFile does.
WholeImage readWholeImage(const std::string& path);

}  // namespace chipsight::doctor
