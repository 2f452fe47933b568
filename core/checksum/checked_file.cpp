// Opening and writing a compiled file whose chunks are checked as they are read.
#include "core/checksum/checked_file.h"

#include <cstring>
#include <vector>

#include "core/checksum/crc32.h"
#include "core/sys/file_layer.h"

namespace chipsight {

namespace {

constexpr std::uint32_t kByteOrderMark = 0x01020304;

struct Header {
    char magic[8];
    std::uint32_t version, byteOrderMark;
    std::uint64_t headBytes, blockAt, blockLength;
    std::uint32_t sumsCrc, headerCrc;
};
constexpr std::size_t kChecksummed = offsetof(Header, headerCrc);

std::uint64_t alignUp(std::uint64_t n, std::uint64_t to) { return (n + to - 1) / to * to; }

std::uint32_t crcOf(const void* bytes, std::size_t length, std::uint32_t crc = 0) {
    return Crc32(crc, static_cast<const std::uint8_t*>(bytes), std::uint32_t(length));
}

struct Kept {
    File::Mapping mapping;
};

}  // namespace

std::optional<CheckedFile> openCheckedFile(const std::string& path, const char (&magic)[8],
                                           std::uint32_t version) {
    std::optional<File> opened = File::open(path, File::Mode::ReadDatabase);
    if (!opened || opened->length() < sizeof(Header)) return {};
    std::optional<File::Mapping> mapping = opened->map(std::size_t(opened->length()));
    if (!mapping) return {};
    auto kept = std::make_shared<Kept>(Kept{std::move(*mapping)});
    const std::uint8_t* bytes = kept->mapping.bytes();
    const std::uint64_t length = kept->mapping.length();
    Header h;
    std::memcpy(&h, bytes, sizeof h);
    if (std::memcmp(h.magic, magic, sizeof h.magic) != 0 || h.version != version ||
        h.byteOrderMark != kByteOrderMark || h.headBytes > length - sizeof h ||
        crcOf(bytes + sizeof h, h.headBytes, crcOf(&h, kChecksummed)) != h.headerCrc)
        return {};
    const std::uint64_t sumsAt = alignUp(h.blockAt + h.blockLength, 8);
    if (h.blockAt % 64 != 0 || h.blockAt < sizeof h + h.headBytes || h.blockAt > length ||
        h.blockLength > length - h.blockAt || sumsAt > length ||
        ChunkChecks::chunksFor(h.blockLength) * 4 != length - sumsAt ||
        crcOf(bytes + sumsAt, length - sumsAt) != h.sumsCrc)
        return {};
    CheckedFile file;
    file.head = {bytes + sizeof h, std::size_t(h.headBytes)};
    file.block = {bytes + h.blockAt, std::size_t(h.blockLength)};
    file.checks =
        std::make_shared<const ChunkChecks>(file.block.data(), file.block.size(),
                                            reinterpret_cast<const std::uint32_t*>(bytes + sumsAt));
    file.mapping = std::move(kept);
    return file;
}

bool storeCheckedFile(const std::string& path, const char (&magic)[8], std::uint32_t version,
                      std::span<const std::uint8_t> head,
                      std::initializer_list<std::span<const std::uint8_t>> parts) {
    static const std::uint8_t zeros[64] = {};
    Header h{};
    std::memcpy(h.magic, magic, sizeof h.magic);
    h.version = version;
    h.byteOrderMark = kByteOrderMark;
    h.headBytes = head.size();
    h.blockAt = alignUp(sizeof h + head.size(), 64);
    ChunkSums sums;
    for (const auto& part : parts) {
        sums.add(part.data(), part.size());
        sums.add(zeros, checkedPartBytes(part.size()) - part.size());
        h.blockLength += checkedPartBytes(part.size());
    }
    const std::vector<std::uint32_t> chunkSums = sums.finish();
    h.sumsCrc = crcOf(chunkSums.data(), chunkSums.size() * 4);
    h.headerCrc = crcOf(head.data(), head.size(), crcOf(&h, kChecksummed));
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash)))
        return false;
    return replaceFileWith(path, [&](File& out) {
        out.write(&h, sizeof h);
        out.write(head.data(), head.size());
        out.write(zeros, h.blockAt - sizeof h - head.size());
        for (const auto& part : parts) {
            out.write(part.data(), part.size());
            out.write(zeros, checkedPartBytes(part.size()) - part.size());
        }
        out.write(chunkSums.data(), chunkSums.size() * 4);
    });
}

}  // namespace chipsight
