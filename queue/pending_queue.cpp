#include "queue/pending_queue.h"

#include "telemetry/metrics.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>


std::mutex PendingQueueMutex;
std::deque<std::string> PendingQueue;

namespace {

// Guarded by PendingQueueMutex, like the queue itself:
std::size_t queuedBytes = 0;  // what the texts in PendingQueue count for (costOf)
std::condition_variable textsArrived;  // notified when waitTarget is reached
std::size_t waitTarget = 0;           // texts a waiter waits for; 0: nobody waits
uint64_t frontSeq = 0;        // texts ever removed from the front: the position of
                              // PendingQueue.front()

std::size_t costOf(const std::string& text) { return text.size() + kTextOverheadBytes; }

// How many of the first `count` texts a batch takes: all, unless their bytes reach
// kMaxBatchBytes first (the text that reaches it is the last; at least one). The
// caller holds the lock and count <= size.
std::size_t capByBytesLocked(std::size_t count) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < count; ++i) {
    bytes += PendingQueue[i].size();
    if (bytes >= kMaxBatchBytes) return i + 1;
  }
  return count;
}

// Removes the n oldest texts; the caller holds the lock and n <= size.
void dropFrontLocked(std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) queuedBytes -= costOf(PendingQueue[i]);
  PendingQueue.erase(PendingQueue.begin(), PendingQueue.begin() + static_cast<std::ptrdiff_t>(n));
  frontSeq += n;
}

}  // namespace

void pendingAppend(const char* text, std::size_t len) {
  std::string item(text, len);  // copied before the lock is taken
  std::size_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(PendingQueueMutex);
    queuedBytes += costOf(item);
    PendingQueue.push_back(std::move(item));
    if (waitTarget != 0 && PendingQueue.size() >= waitTarget) textsArrived.notify_one();
    while (queuedBytes > kQueueMaxBytes && PendingQueue.size() > 1) {
      dropFrontLocked(1);
      ++dropped;
    }
  }
  metricsTextsTrimmed(dropped);
}

std::size_t pendingSize() {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  return PendingQueue.size();
}

std::size_t pendingBytes() {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  return queuedBytes;
}

bool pendingWaitForTexts(std::size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(PendingQueueMutex);
  waitTarget = n == 0 ? 1 : n;
  const bool reached = textsArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] {
    return PendingQueue.size() >= waitTarget;
  });
  waitTarget = 0;
  return reached;
}

void pendingLowerWaitTarget(std::size_t n) {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  if (waitTarget == 0 || n >= waitTarget) return;
  waitTarget = n == 0 ? 1 : n;
  if (PendingQueue.size() >= waitTarget) textsArrived.notify_one();
}

uint64_t pendingTrimmedTotal() { return gMetrics.textsTrimmed.load(std::memory_order_relaxed); }

void pendingDropOldest(std::size_t n) {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  if (n > PendingQueue.size()) n = PendingQueue.size();
  dropFrontLocked(n);
}

void pendingClear() {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  dropFrontLocked(PendingQueue.size());
}

std::vector<std::string> pendingCopyFront(std::size_t n) {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  if (n > PendingQueue.size()) n = PendingQueue.size();
  return std::vector<std::string>(PendingQueue.begin(),
                                  PendingQueue.begin() + static_cast<std::ptrdiff_t>(n));
}

void pendingRemoveTaken(uint64_t firstSeq, std::size_t count) {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  const uint64_t end = firstSeq + count;
  if (end <= frontSeq) return;  // all of them went already
  std::size_t n = static_cast<std::size_t>(end - frontSeq);
  if (n > PendingQueue.size()) n = PendingQueue.size();
  dropFrontLocked(n);
}

namespace {

// The count rule: reads the size and, above kQueueTrimAbove, keeps the newest
// kQueueKeepNewest of the texts counted (texts appended since then stay too).
// Returns the number queued afterwards.
std::size_t trimByCountRule() {
  std::size_t count = pendingSize();
  if (count > kQueueTrimAbove) {
    std::size_t drop = count - kQueueKeepNewest;
    {
      std::lock_guard<std::mutex> lock(PendingQueueMutex);
      if (drop > PendingQueue.size()) drop = PendingQueue.size();
      dropFrontLocked(drop);
      count = PendingQueue.size();
    }
    metricsTextsTrimmed(drop);
  }
  return count;
}

}  // namespace

void pendingPutBack(std::vector<std::string>* batch) {
  std::size_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(PendingQueueMutex);
    for (auto it = batch->rbegin(); it != batch->rend(); ++it) {
      queuedBytes += costOf(*it);
      PendingQueue.push_front(std::move(*it));
    }
    frontSeq -= std::min<uint64_t>(frontSeq, batch->size());
    while (queuedBytes > kQueueMaxBytes && PendingQueue.size() > 1) {
      dropFrontLocked(1);
      ++dropped;
    }
  }
  batch->clear();
  metricsTextsTrimmed(dropped);
}

std::size_t popBatch(std::vector<std::string>* batch, std::size_t maxCount, bool trimByCount) {
  std::size_t count = std::min(trimByCount ? trimByCountRule() : pendingSize(), maxCount);
  batch->clear();
  if (count == 0) return 0;
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  if (count > PendingQueue.size()) count = PendingQueue.size();
  count = capByBytesLocked(count);
  batch->reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    queuedBytes -= costOf(PendingQueue[i]);
    batch->push_back(std::move(PendingQueue[i]));
  }
  PendingQueue.erase(PendingQueue.begin(), PendingQueue.begin() + static_cast<std::ptrdiff_t>(count));
  frontSeq += count;
  return count;
}

std::size_t takeBatch(std::vector<std::string>* batch, uint64_t* firstSeq,
                      std::size_t maxCount, bool trimByCount) {
  std::size_t count = trimByCount ? trimByCountRule() : pendingSize();
  if (count > maxCount) count = maxCount;
  batch->clear();
  if (count == 0) return 0;
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  if (count > PendingQueue.size()) count = PendingQueue.size();
  count = capByBytesLocked(count);
  batch->assign(PendingQueue.begin(), PendingQueue.begin() + static_cast<std::ptrdiff_t>(count));
  if (firstSeq != nullptr) *firstSeq = frontSeq;
  return batch->size();
}
