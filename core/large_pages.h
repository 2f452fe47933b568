// Memory for large blocks that are read or written all over: images and the entry table's index.
#pragma once

#include <cstddef>

namespace chipsight {

// Allocates as malloc does, except that a block of 2 MiB or more is aligned to 2 MiB and advised
// for huge pages: on small pages nearly every access to a large block misses the TLB, and every
// 4 KiB of it costs a page fault. Throws std::bad_alloc.
void* allocateLargePages(std::size_t bytes);
void freeLargePages(void* p) noexcept;

}  // namespace chipsight
