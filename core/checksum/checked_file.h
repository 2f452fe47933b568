// A compiled file of the cache: a header, a head that is checked whole when the file is opened,
// and a block that is checked a 4 KiB chunk at a time as it is read, so a start pays only for
// the chunks it reads. Written under a temporary name and renamed into place, so that a reader
// sees the old file or the new one, never half of one.
//
//   header  the caller's magic (8 bytes), u32 version, u32 byte-order mark, u64 head bytes,
//           u64 where the block starts, u64 its length, u32 CRC-32 of the chunk sums,
//           u32 CRC-32 of the header before it and of the head
//   head    the caller's bytes
//   block   at a multiple of 64, made of the caller's parts, each padded to a multiple of 64
//   sums    a u32 for every chunk of the block, at a multiple of 8
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/checksum/chunk_checks.h"

namespace chipsight {

struct CheckedFile {
    // Keeps the mapping that head and block lie in.
    std::shared_ptr<const void> mapping;
    std::span<const std::uint8_t> head, block;
    std::shared_ptr<const ChunkChecks> checks;
};

// The bytes a part of `length` takes in a block.
constexpr std::size_t checkedPartBytes(std::size_t length) { return (length + 63) / 64 * 64; }

// The file at `path` when it is one of `magic` and `version` whose header, head and sums are
// whole; none otherwise.
std::optional<CheckedFile> openCheckedFile(const std::string& path, const char (&magic)[8],
                                           std::uint32_t version);

// Writes `head` and the block of `parts` as the file at `path`, making its directory when
// missing. False when it could not be.
bool storeCheckedFile(const std::string& path, const char (&magic)[8], std::uint32_t version,
                      std::span<const std::uint8_t> head,
                      std::initializer_list<std::span<const std::uint8_t>> parts);

}  // namespace chipsight
