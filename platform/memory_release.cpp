#include "platform/memory_release.h"

#include <malloc.h>

void releaseLargeAllocations() {
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargeAllocationBytes));
}
