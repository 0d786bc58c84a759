#include "durable/capture_progress.h"

#include <chrono>

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

bool CaptureProgress::waitFor(uint64_t mark, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return grew_.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                        [&] { return total_ >= mark; });
}

CaptureProgress& captureProgress() {
  static CaptureProgress progress;
  return progress;
}
