// The dump doctor: what an exact match of the whole image cannot find. It reads the image and
// the entry table and returns findings; doctor_lines.h turns them into report lines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/databases/entry_table.h"

namespace chipsight::doctor {

// An entry as a finding names it: its texts as an entry line shows them, and what the
// database says of how it sits on the board (empty when it says nothing).
struct FoundEntry {
    std::string name, description, board;
};

// What was done to the image before it was looked up.
enum class Transform {
    ByteSwap,     // the bytes of each 16-bit word swapped
    WordSwap,     // the 16-bit halves of each 32-bit word swapped
    BitReversal,  // D0..D7 of every byte reversed
    Inversion,    // every bit inverted
    EvenOdd,      // even bytes (part 1) and odd bytes (part 2): two chips of a 16-bit bus
    ByteLanes,    // bytes 4i+j (part j+1 of 4): four chips of a 32-bit bus
    Overdump,     // the one block of which the image is `copies` copies
};

struct TransformFinding {
    Transform transform;
    std::uint32_t part = 1, parts = 1;
    std::uint32_t crc = 0, size = 0;
    std::vector<FoundEntry> entries;  // empty only for an overdump whose block is not found
};

struct OneBitFinding {
    std::uint64_t byte;
    int bit;
    FoundEntry entry;
    bool confirmed;  // by the entry's SHA-1; else it has none and the chance below is small
    double chance;   // of an entry's checksum lying one bit away by accident
};

// A run of 0x00 or 0xFF bytes that fills whole blocks of the image's 1/256 (256 bytes at least).
struct FillRun {
    std::uint64_t start, end;  // [start, end)
    std::uint8_t value;
};

struct Findings {
    std::vector<TransformFinding> transforms;
    std::uint32_t copies = 1;  // the image is this many copies of one block
    std::vector<OneBitFinding> oneBit;
    std::size_t oneBitUnchecked = 0;  // candidates past the number the doctor hashes
    // What confirming the candidates hashed: from each one's 64-byte block to the end, summed.
    std::uint64_t oneBitHashedBytes = 0;
    bool sameByte = false;  // every byte is the same (then no line health below)
    std::uint8_t firstByte = 0;
    std::uint8_t allBits = 0xFF, anyBits = 0;  // AND and OR of every byte
    std::uint32_t mirroredLines = 0;           // bit k: the halves that A_k selects are identical
    std::vector<FillRun> fills;
    std::uint64_t imageLength = 0;
    bool any() const;
};

// What the doctor made of an image that was not found whole: its findings, or why it could not
// examine the image. Both empty for an image it had no need to look at.
struct Examination {
    std::optional<Findings> findings;
    std::string notExamined;
};

// The checksums of the table's entries by size, gathered when a size is first asked for and
// kept while the table keeps its number of entries (it only ever grows).
class SameSizeIndex {
  public:
    std::span<const std::uint32_t> crcsOfSize(const EntryTable& table, std::uint32_t size);

  private:
    std::size_t tableSize_ = 0;
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> bySize_;
};

// Examines an image that was not found whole: `crc` is its CRC-32, its length a power of two.
Findings examine(std::span<const std::uint8_t> image, std::uint32_t crc, const EntryTable& table,
                 SameSizeIndex& index);

// The SHA-1 of `bytes`, from OpenSSL's libcrypto.
std::array<std::uint8_t, 20> sha1(std::span<const std::uint8_t> bytes);

}  // namespace chipsight::doctor
