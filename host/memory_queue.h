// MemoryQueue: the forwarding loop's view of PendingQueue, as the service has it
// without durable delivery. take() applies the count rule (takeBatch); every batch
// is removed once posted or found empty, whatever happened: nothing is retried.
// idle() sleeps kIdleSleepMs. Main thread only.
#ifndef TARVEX_HOST_MEMORY_QUEUE_H_
#define TARVEX_HOST_MEMORY_QUEUE_H_

#include <cstdint>

#include "host/forward_queue.h"

constexpr int kIdleSleepMs = 100;  // pause when the queue is empty

class MemoryQueue : public ForwardQueue {
 public:
  std::size_t take(std::vector<std::string>* batch) override;
  void settleUnsent() override;
  Settled settlePosted(const HttpOutcome& outcome, const std::string& reply) override;
  int retryPauseMs(int failures) const override;
  void idle() override;

 private:
  void removeTaken();

  uint64_t firstSeq_ = 0;  // queue position of the batch taken last
  std::size_t count_ = 0;  // its number of texts; 0 once removed
};

#endif  // TARVEX_HOST_MEMORY_QUEUE_H_
