// Zips written the same way every time: members in byte order of their names, stored, with one
// fixed time and owner, so the same ROMs always make the same bytes and an emulator or a ROM
// manager can check them by the checksum of the whole file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace chipsight::repair {

struct ZipMember {
    std::string name;
    std::span<const std::uint8_t> bytes;
};

// Whether `name` may stand as one component of a path the program writes: not empty, not "."
// or "..", no slash or backslash, no control byte.
bool safeComponent(std::string_view name);
// Whether `name` may stand as a member's name: safe components joined by single slashes.
bool safeMemberName(std::string_view name);

// The words for a file that is there already, which a write not to replace it fails with.
inline constexpr const char* kFileExists = "a file of that name is there already";

// Writes `members` as the zip `path`, whole or not at all (see replaceFileWith); a file already
// there is replaced only when `replace`. Empty when written, else why not, in the program's words.
std::string writeZip(const std::string& path, std::vector<ZipMember> members, bool replace);

}  // namespace chipsight::repair
