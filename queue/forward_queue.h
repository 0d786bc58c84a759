// ForwardQueue: where the forwarding loop takes its batches from and how it settles
// them. One loop, one conversion and one post serve both kinds of queue:
//   - MemoryQueue (queue/memory_queue.h): PendingQueue in this process; every batch
//     leaves the queue when it is taken, whatever its post does (keepsFailed()
//     false: the loop posts each batch once and settles nothing);
//   - StreamQueue (durable/stream_queue.h): the Redis stream of durable delivery; the
//     loop posts a batch in parts (the whole, or halves of a rejected part) and
//     settles each part: acknowledged once the receiver took it or it gave nothing
//     to send, retried after failures, its texts set aside one by one when the
//     receiver rejects them on their own.
// A queue is used by the forwarding loop's thread only.
#ifndef TARVEX_QUEUE_FORWARD_QUEUE_H_
#define TARVEX_QUEUE_FORWARD_QUEUE_H_

#include <cstddef>
#include <string>
#include <vector>

class ForwardQueue {
 public:
  virtual ~ForwardQueue() = default;

  // Replaces *batch with the next texts, oldest first: at most kMaxBatch of them,
  // and no more once they come to kMaxBatchBytes (a larger text comes alone).
  // Returns their number; 0 when none are waiting.
  virtual std::size_t take(std::vector<std::string>* batch) = 0;
  // True when failed parts are kept and retried (durable delivery).
  virtual bool keepsFailed() const = 0;
  // Texts [first, first + count) of the batch just taken are finished with:
  // delivered, or they gave nothing to send. The queue may put off telling its
  // store until the next take or flush().
  virtual void settle(std::size_t first, std::size_t count) = 0;
  // Tells the store what settle() put off; called when the loop ends.
  virtual void flush() {}
  // Stores text `index` of the batch just taken where rejected texts are kept,
  // with the HTTP status (0: not sent) and the reply or reason. True once stored;
  // the caller then settles it.
  virtual bool setAside(std::size_t index, const std::string& text, long status,
                        const std::string& reply) = 0;
  // Pause before the retry that follows failed attempt `failures` (1, 2, ...).
  virtual int retryPauseMs(int failures) const = 0;
  // The longest of those pauses.
  virtual int retryMaxMs() const = 0;
  // Called after take() returned 0: waits a little before the next take.
  virtual void idle() = 0;
};

#endif  // TARVEX_QUEUE_FORWARD_QUEUE_H_
