// MemoryQueue: the forwarding loop's view of PendingQueue, as the service has it
// without durable delivery. take() applies the count rule and moves the batch out
// of the queue (popBatch): whatever its post does, nothing is retried.
// idle() waits kIdleSleepMs, or less when a full batch (kMaxBatch texts) is queued
// before that: below about ten batches a second the documents are the same as
// with a plain pause, above it no full batch waits for the timer. Main thread only
// (it is the one waiter pendingWaitForTexts allows).
#ifndef TARVEX_QUEUE_MEMORY_QUEUE_H_
#define TARVEX_QUEUE_MEMORY_QUEUE_H_

#include "config/timing.h"
#include "queue/forward_queue.h"


class MemoryQueue : public ForwardQueue {
 public:
  // `idleMs`: the longest wait of idle(); tests stretch it.
  explicit MemoryQueue(int idleMs = kIdleSleepMs) : idleMs_(idleMs) {}

  std::size_t take(std::vector<std::string>* batch) override;
  bool keepsFailed() const override { return false; }
  void settle(std::size_t, std::size_t) override {}
  bool setAside(std::size_t, const std::string&, long, const std::string&) override {
    return true;
  }
  int retryPauseMs(int) const override { return 0; }
  int retryMaxMs() const override { return 0; }
  void idle() override;

 private:
  const int idleMs_;  // longest wait of idle()
};

#endif  // TARVEX_QUEUE_MEMORY_QUEUE_H_
