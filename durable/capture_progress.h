// CaptureProgress: how many texts this copy's capture thread has put through the
// capture script (each added to the stream, or found there already because another
// copy added it first), counted from the start, and what the reader of the stream
// waits for.
//
// Every copy subscribes to the same channel, so the owner's own capture tells it
// when the entries that fill a batch are in the stream: its stream queue waits on
// this count instead of polling the stream. While it waits, the capture thread does
// not hold back the texts it needs: it captures once the missing texts are queued,
// and ends any gathering before the read that waits (wanted()). When this copy's
// capture lags (its subscription lost, its master slow), the wait simply runs out.
// Thread-safe: the capture thread adds, the forwarding loop waits.
#ifndef TARVEX_DURABLE_CAPTURE_PROGRESS_H_
#define TARVEX_DURABLE_CAPTURE_PROGRESS_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

class CaptureProgress {
 public:
  // What a waiting reader needs: `texts` more put through (0: no reader waits),
  // by steady ms `byMs`, when it reads whatever is there.
  struct Want {
    uint64_t texts;
    int64_t byMs;
  };

  // `n` more texts went through a capture call Redis took.
  void add(uint64_t n);
  uint64_t total() const;
  // Waits at most timeoutMs until total() >= mark; true when it is. Meanwhile
  // wanted() tells the capture thread that a read follows at mark, or at steady ms
  // readAtMs whatever the count; a waiting capture gather ends once the queue holds
  // the missing texts (pendingLowerWaitTarget).
  bool waitFor(uint64_t mark, int timeoutMs, int64_t readAtMs);
  Want wanted() const;

 private:
  mutable std::mutex mu_;
  std::condition_variable grew_;
  // Guarded by mu_:
  uint64_t total_ = 0;
  bool waiting_ = false;  // a reader is in waitFor
  uint64_t mark_ = 0;     // ... until total_ reaches this
  int64_t readAtMs_ = 0;  // ... or this steady ms
};

// The process's one, fed by captureThread.
CaptureProgress& captureProgress();

#endif  // TARVEX_DURABLE_CAPTURE_PROGRESS_H_
