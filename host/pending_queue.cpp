#include "host/pending_queue.h"

#include "status/status.h"

std::mutex PendingQueueMutex;
std::deque<std::string> PendingQueue;

void pendingAppend(const char* text, std::size_t len) {
  std::string item(text, len);  // copied before the lock is taken
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  PendingQueue.push_back(std::move(item));
}

std::size_t pendingSize() {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  return PendingQueue.size();
}

void pendingDropOldest(std::size_t n) {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  if (n > PendingQueue.size()) n = PendingQueue.size();
  PendingQueue.erase(PendingQueue.begin(), PendingQueue.begin() + static_cast<std::ptrdiff_t>(n));
}

std::vector<std::string> pendingCopyFront(std::size_t n) {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  if (n > PendingQueue.size()) n = PendingQueue.size();
  return std::vector<std::string>(PendingQueue.begin(),
                                  PendingQueue.begin() + static_cast<std::ptrdiff_t>(n));
}

std::size_t takeBatch(std::vector<std::string>* batch) {
  std::size_t count = pendingSize();
  if (count > kQueueTrimAbove) {
    // Keep the newest kQueueKeepNewest of the texts counted above; texts appended
    // since then stay too.
    std::lock_guard<std::mutex> lock(PendingQueueMutex);
    std::size_t drop = count - kQueueKeepNewest;
    if (drop > PendingQueue.size()) drop = PendingQueue.size();
    PendingQueue.erase(PendingQueue.begin(), PendingQueue.begin() + static_cast<std::ptrdiff_t>(drop));
    count = PendingQueue.size();
    metricsTextsTrimmed(drop);
  }
  if (count > kMaxBatch) count = kMaxBatch;
  if (count == 0) {
    batch->clear();
    return 0;
  }
  *batch = pendingCopyFront(count);
  return batch->size();
}
