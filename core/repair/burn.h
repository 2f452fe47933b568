// The image to program into a replacement EPROM: a ROM fitted to the part that takes its place,
// with the checksums a programmer shows, so a burn can be checked against the database.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace chipsight::repair {

// An EPROM a ROM can be burnt into: its name as sold, its bytes, and its data width in bits.
struct EpromPart {
    std::string_view name;
    std::uint32_t bytes;
    unsigned width;
};

// The part of this name (27C64 ... 27C801, 27C160, 27C322; any letter case), or none.
std::optional<EpromPart> epromPart(std::string_view name);
// Every part's name, for a message: "27C64, 27C128, ...".
std::string epromPartNames();

struct BurnImage {
    std::string name;  // the ROM's name, with ".even" or ".odd" for one byte lane of it
    std::vector<std::uint8_t> bytes;
};

// `rom` (of a ROM `dataWidth` bits wide, 0 where the database does not say, its words
// `bigEndian` or not) as the images to program: as it is without a part; with one, each image
// filled to the part's size by repeating it, a 16-bit ROM on 8-bit parts split into its even and
// odd bytes, and a big-endian one on a 16-bit part byte-swapped, as a programmer takes a word's
// low byte first. Empty, with the reason in `refused`, when it does not fit the part.
std::vector<BurnImage> fitToPart(std::string_view romName, std::span<const std::uint8_t> rom,
                                 unsigned dataWidth, bool bigEndian,
                                 const std::optional<EpromPart>& part, std::string& refused);

// The sums of the bytes, kept to 8, 16 and 32 bits, as device programmers show them.
struct ByteSums {
    std::uint8_t sum8 = 0;
    std::uint16_t sum16 = 0;
    std::uint32_t sum32 = 0;
};
ByteSums byteSums(std::span<const std::uint8_t> bytes);

// "PATH: CRC-32 1A2B3C4D, byte sums 4D (8-bit) 3C4D (16-bit) 00013C4D (32-bit)".
std::string burnLine(const std::string& path, std::span<const std::uint8_t> bytes);
// The same from the image's CRC-32 and sums, taken already.
std::string burnLine(const std::string& path, std::uint32_t crc, const ByteSums& sums);

}  // namespace chipsight::repair
