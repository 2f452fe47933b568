// The user's own ROM sets (folders, archives, plain files), every ROM indexed by CRC-32, size
// and SHA-1, the index kept in the cache so that an unchanged file is never read twice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chipsight::repair {

struct CollectionRom {
    std::string path;    // the file: a plain ROM, or the archive holding it
    std::string member;  // the member's name inside the archive; empty for a plain file
    std::uint32_t crc = 0, size = 0;
    std::array<std::uint8_t, 20> sha1{};
};

struct CollectionStats {
    // Files looked at (plain ROMs and archives), ROMs indexed, files taken from the index kept
    // in the cache without being read.
    std::size_t files = 0, roms = 0, fromCache = 0;
    // Files (and archive members) left out, each with why in `problems`, as is a cache that
    // could not be written.
    std::size_t skipped = 0;
    std::vector<std::string> problems;
};

class Collection {
  public:
    // Indexes `paths`, using and renewing the index kept in `cacheDir` (empty: none): a file whose
    // identity (size, times, inode, device, as the DAT cache knows it) is unchanged is not read
    // again. Folders are walked without following links; a file that cannot be read is skipped
    // and counted, never fatal.
    static Collection index(const std::vector<std::string>& paths, const std::string& cacheDir,
                            CollectionStats* stats = nullptr);
    // A ROM of this checksum and size (and SHA-1, when given), or none; of several, the first
    // in the order of `paths` and of the walk.
    const CollectionRom* find(std::uint32_t crc, std::uint32_t size,
                              const std::optional<std::array<std::uint8_t, 20>>& sha1) const;
    // The ROM's bytes read again now and verified against its CRC-32, size and SHA-1; none when
    // they cannot be read or no longer match (the file changed since it was indexed).
    std::optional<std::vector<std::uint8_t>> bytesOf(const CollectionRom& rom) const;
    std::size_t size() const { return roms_.size(); }

  private:
    std::vector<CollectionRom> roms_;
    std::vector<std::size_t> byKey_;  // positions in roms_ by (crc, size), then position
};

// The file in `cacheDir` that keeps the index of the collection `paths`.
std::string collectionIndexFile(const std::string& cacheDir, const std::vector<std::string>& paths);

}  // namespace chipsight::repair
