#include "queue/memory_queue.h"

#include "queue/pending_queue.h"

std::size_t MemoryQueue::take(std::vector<std::string>* batch) {
  // The batch leaves the queue now: whatever its post does, it is never taken again.
  return popBatch(batch);
}

void MemoryQueue::idle() { pendingWaitForTexts(kMaxBatch, idleMs_); }
