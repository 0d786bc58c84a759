// CaptureProgress: how many texts this copy's capture thread has put through the
// capture script (each added to the stream, or found there already because another
// copy added it first), counted from the start.
//
// Every copy subscribes to the same channel, so the owner's own capture tells it
// when the entries that fill a batch are in the stream: its stream queue waits on
// this count instead of polling the stream. When this copy's capture lags (its
// subscription lost, its master slow), the wait simply runs out. Thread-safe: the
// capture thread adds, the forwarding loop waits.
#ifndef TARVEX_DURABLE_CAPTURE_PROGRESS_H_
#define TARVEX_DURABLE_CAPTURE_PROGRESS_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

class CaptureProgress {
 public:
  // `n` more texts went through a capture call Redis took.
  void add(uint64_t n);
  uint64_t total() const;
  // Waits at most timeoutMs until total() >= mark; true when it is.
  bool waitFor(uint64_t mark, int timeoutMs);

 private:
  mutable std::mutex mu_;
  std::condition_variable grew_;
  uint64_t total_ = 0;  // guarded by mu_
};

// The process's one, fed by captureThread.
CaptureProgress& captureProgress();

#endif  // TARVEX_DURABLE_CAPTURE_PROGRESS_H_
