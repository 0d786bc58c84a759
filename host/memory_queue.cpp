#include "host/memory_queue.h"

#include "host/pending_queue.h"

std::size_t MemoryQueue::take(std::vector<std::string>* batch) {
  count_ = takeBatch(batch, &firstSeq_);
  return count_;
}

void MemoryQueue::removeTaken() {
  pendingRemoveTaken(firstSeq_, count_);
  count_ = 0;
}

void MemoryQueue::settleUnsent() { removeTaken(); }

Settled MemoryQueue::settlePosted(const HttpOutcome&, const std::string&) {
  // The batch goes whatever happened: nothing is retried.
  removeTaken();
  return Settled::kDone;
}

int MemoryQueue::retryPauseMs(int) const { return 0; }

void MemoryQueue::idle() { pendingWaitForTexts(kMaxBatch, idleMs_); }
