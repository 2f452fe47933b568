// Large blocks on huge pages where the system offers them.
#include "core/sys/large_pages.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace chipsight {

void* allocateLargePages(std::size_t bytes) {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    void* p = nullptr;
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        p = std::aligned_alloc(kHugePage, rounded);
        if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint; refused is fine
    } else {
        p = std::malloc(std::max<std::size_t>(bytes, 1));
    }
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void freeLargePages(void* p) noexcept { std::free(p); }

}  // namespace chipsight
