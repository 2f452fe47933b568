// The program's own texts as the tests expect them, typed here once and independently of the
// program's sources, so that a changed character in the program is a failing test.
#pragma once

namespace chipsight::expected {

inline constexpr const char* kErrorOpening = "Error opening file :(";
inline constexpr const char* kErrorReading = "Error reading file :(";
inline constexpr const char* kNotPowerOfTwo = "ROM size must be power of 2!";
inline constexpr const char* kBelow4GiB = "ROM size must be below 4 GiB!";
inline constexpr const char* kUnableToMonitor = "Unable to monitor this file.";
inline constexpr const char* kCannotOpenCustom = "Cannot Open Chipsight.dat!";
inline constexpr const char* kFailedWritingCustom = "Failed writing to Chipsight.dat!";
inline constexpr const char* kCannotOpenGameTable =
    "Cannot Open CHIPLORE.GAM\nDownload Chiplore, and copy the file to this folder!";
inline constexpr const char* kBadChecksum =
    "Checksum value must be in hexidecimal 0-9 A-F.\nCorrect it and try again!";
inline constexpr const char* kBadSize =
    "Size value must be numeric!\nDecimal or hexidecimal (prefix with 0x)\nCorrect it and try "
    "again!";
inline constexpr const char* kEmptyName = "ROM Name is empty!";
inline constexpr const char* kEmptyDescription = "Description is empty!";

}  // namespace chipsight::expected
