// ForwardQueue: where the forwarding loop takes its batches from and how it settles
// them. One loop, one conversion and one post serve both kinds of queue:
//   - MemoryQueue (host/memory_queue.h): PendingQueue in this process; every batch
//     leaves the queue when it is taken, whatever its post does;
//   - StreamQueue (redis/stream_queue.h): the Redis stream of durable delivery; a
//     batch is acknowledged only once the receiver took it, retried after failures,
//     and set aside when the receiver rejects it.
// A queue is used by the forwarding loop's thread only.
#ifndef TARVEX_HOST_FORWARD_QUEUE_H_
#define TARVEX_HOST_FORWARD_QUEUE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "delivery/http_outcome.h"

// What the loop does with a batch after a post.
enum class Settled {
  kDone,   // the batch is finished with; take the next one
  kRetry,  // post the same document again after retryPauseMs
};

class ForwardQueue {
 public:
  virtual ~ForwardQueue() = default;

  // Replaces *batch with the next texts, oldest first, at most kMaxBatch of them.
  // Returns their number; 0 when none are waiting.
  virtual std::size_t take(std::vector<std::string>* batch) = 0;
  // The batch just taken converted into no document: nothing is sent.
  virtual void settleUnsent() = 0;
  // The batch just taken was posted and ended so; `reply` is the reply text.
  virtual Settled settlePosted(const HttpOutcome& outcome, const std::string& reply) = 0;
  // Pause before the retry that follows failed attempt `failures` (1, 2, ...).
  virtual int retryPauseMs(int failures) const = 0;
  // Called after take() returned 0: waits a little before the next take.
  virtual void idle() = 0;
};

#endif  // TARVEX_HOST_FORWARD_QUEUE_H_
