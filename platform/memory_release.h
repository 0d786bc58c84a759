// Large allocations go straight back to the system when freed. glibc raises its
// mmap threshold to the size of the largest block freed so far, after which a 16 MB
// text's buffers come from the heap and their pages may stay resident after the
// text is gone; a fixed threshold keeps the resident size close to what is live.
// Call once at start, before threads.
#ifndef TARVEX_PLATFORM_MEMORY_RELEASE_H_
#define TARVEX_PLATFORM_MEMORY_RELEASE_H_

#include <cstddef>

constexpr std::size_t kLargeAllocationBytes = 1u << 20;  // mmap'ed, returned on free

void releaseLargeAllocations();

#endif  // TARVEX_PLATFORM_MEMORY_RELEASE_H_
