#include "core/databases/dat_cache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/crc32.h"
#include "core/database_location.h"

namespace chipsight {
namespace {

constexpr char kMagic[8] = {'C', 'S', 'D', 'C', 'A', 'C', 'H', 'E'};
// Changes whenever the block's layout or what the readers make of a DAT changes, so that a
// cache made by another version is compiled again.
constexpr std::uint32_t kCacheVersion = 1;
// magic, version, path length, size, seconds, nanoseconds, inode, device, block length
constexpr std::size_t kFixedHeaderBytes = 8 + 4 + 4 + 6 * 8;

void put(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}
std::uint64_t get(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

std::vector<std::uint8_t> headerFor(const DatIdentity& id, std::uint64_t blockLength) {
    std::vector<std::uint8_t> h(kMagic, kMagic + sizeof kMagic);
    put(h, kCacheVersion, 4);
    put(h, id.path.size(), 4);
    for (const std::uint64_t v :
         {id.size, std::uint64_t(id.modifiedSeconds), std::uint64_t(id.modifiedNanoseconds),
          id.inode, id.device, blockLength})
        put(h, v, 8);
    h.insert(h.end(), id.path.begin(), id.path.end());
    put(h, Crc32(0, h.data(), std::uint32_t(h.size())), 4);
    return h;
}

struct Unmap {
    std::size_t length;
    void operator()(void* p) const { ::munmap(p, length); }
};

}  // namespace

std::optional<DatIdentity> datIdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return DatIdentity{path,
                       std::uint64_t(st.st_size),
                       std::int64_t(st.st_mtim.tv_sec),
                       std::int64_t(st.st_mtim.tv_nsec),
                       std::uint64_t(st.st_ino),
                       std::uint64_t(st.st_dev)};
}

std::string cacheFileFor(const std::string& cacheDir, const std::string& path) {
    // FNV-1a: a name, not a safeguard; the header names the DAT in full.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : path) hash = (hash ^ std::uint8_t(c)) * 0x100000001B3ull;
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.dat-cache", static_cast<unsigned long long>(hash));
    return cacheDir + "/" + name;
}

std::shared_ptr<const DatStore> loadCachedStore(const std::string& cacheDir,
                                                const DatIdentity& identity) {
    const int fd = ::open(cacheFileFor(cacheDir, identity.path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    void* base = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        base = ::mmap(nullptr, std::size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) return nullptr;
    const std::size_t length = std::size_t(st.st_size);
    const std::shared_ptr<void> mapping(base, Unmap{length});
    const auto* p = static_cast<const std::uint8_t*>(base);

    const std::size_t headerBytes = kFixedHeaderBytes + identity.path.size() + 4;
    if (length < headerBytes) return nullptr;
    const std::uint64_t blockLength = get(p + kFixedHeaderBytes - 8, 8);
    const std::vector<std::uint8_t> expected = headerFor(identity, blockLength);
    if (std::memcmp(p, expected.data(), headerBytes) != 0 || blockLength != length - headerBytes)
        return nullptr;
    return DatStore::open(std::shared_ptr<const std::uint8_t[]>(mapping, p + headerBytes),
                          std::size_t(blockLength));
}

bool storeInCache(const std::string& cacheDir, const DatIdentity& identity,
                  const std::vector<std::uint8_t>& block) {
    if (cacheDir.empty() || !makeDirectories(cacheDir)) return false;
    const std::string target = cacheFileFor(cacheDir, identity.path);
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    const std::vector<std::uint8_t> header = headerFor(identity, block.size());
    bool ok = true;
    for (const auto* part : {&header, &block}) {
        const std::uint8_t* at = part->data();
        for (std::size_t left = part->size(); ok && left > 0;) {
            const ssize_t n = ::write(fd, at, left);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) {
                at += n;
                left -= std::size_t(n);
            }
        }
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace chipsight
