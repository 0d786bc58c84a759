// MemoryQueue: the forwarding loop's view of PendingQueue, as the service has it
// without durable delivery. take() applies the count rule (takeBatch); every batch
// is removed once posted or found empty, whatever happened: nothing is retried.
// idle() waits kIdleSleepMs, or less when a full batch (kMaxBatch texts) is queued
// before that: below about ten batches a second the documents are the same as
// with a plain pause, above it no full batch waits for the timer. Main thread only
// (it is the one waiter pendingWaitForTexts allows).
#ifndef TARVEX_HOST_MEMORY_QUEUE_H_
#define TARVEX_HOST_MEMORY_QUEUE_H_

#include <cstdint>

#include "host/forward_queue.h"

constexpr int kIdleSleepMs = 100;  // pause when the queue is empty

class MemoryQueue : public ForwardQueue {
 public:
  // `idleMs`: the longest wait of idle(); tests stretch it.
  explicit MemoryQueue(int idleMs = kIdleSleepMs) : idleMs_(idleMs) {}

  std::size_t take(std::vector<std::string>* batch) override;
  void settleUnsent() override;
  Settled settlePosted(const HttpOutcome& outcome, const std::string& reply) override;
  int retryPauseMs(int failures) const override;
  void idle() override;

 private:
  void removeTaken();

  const int idleMs_;       // longest wait of idle()
  uint64_t firstSeq_ = 0;  // queue position of the batch taken last
  std::size_t count_ = 0;  // its number of texts; 0 once removed
};

#endif  // TARVEX_HOST_MEMORY_QUEUE_H_
