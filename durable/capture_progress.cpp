#include "durable/capture_progress.h"

#include <chrono>

#include "queue/pending_queue.h"

void CaptureProgress::add(uint64_t n) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    total_ += n;
  }
  grew_.notify_all();
}

uint64_t CaptureProgress::total() const {
  std::lock_guard<std::mutex> lock(mu_);
  return total_;
}

bool CaptureProgress::waitFor(uint64_t mark, int timeoutMs, int64_t readAtMs) {
  std::unique_lock<std::mutex> lock(mu_);
  waiting_ = true;
  mark_ = mark;
  readAtMs_ = readAtMs;
  const uint64_t missing = mark > total_ ? mark - total_ : 0;
  lock.unlock();  // the queue's lock is never taken under mu_
  if (missing > 0) pendingLowerWaitTarget(static_cast<std::size_t>(missing));
  lock.lock();
  const bool reached = grew_.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                                      [&] { return total_ >= mark; });
  waiting_ = false;
  return reached;
}

CaptureProgress::Want CaptureProgress::wanted() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!waiting_ || mark_ <= total_) return {0, 0};
  return {mark_ - total_, readAtMs_};
}

CaptureProgress& captureProgress() {
  static CaptureProgress progress;
  return progress;
}
