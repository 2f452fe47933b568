// Memory for large blocks that are read or written all over: images and the entry table's index.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace chipsight {

// Allocates as malloc does, except that a block of 2 MiB or more is aligned to 2 MiB and advised
// for huge pages: on small pages nearly every access to a large block misses the TLB, and every
// 4 KiB of it costs a page fault. Throws std::bad_alloc.
void* allocateLargePages(std::size_t bytes);
void freeLargePages(void* p) noexcept;

// A standard allocator over allocateLargePages, for containers that are written and read at
// random, as the entry table's index is.
template <typename T>
struct LargePageAllocator {
    using value_type = T;
    LargePageAllocator() = default;
    template <typename U>
    LargePageAllocator(const LargePageAllocator<U>&) {}

    T* allocate(std::size_t n) { return static_cast<T*>(allocateLargePages(n * sizeof(T))); }
    void deallocate(T* p, std::size_t) noexcept { freeLargePages(p); }
    // Growing without a value leaves the elements unset, for what is written in full next.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const LargePageAllocator<U>&) const {
        return true;
    }
};

}  // namespace chipsight
