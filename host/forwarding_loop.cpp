#include "host/forwarding_loop.h"

#include <vector>

#include "host/run_flag.h"
#include "host/stop_signal.h"
#include "platform/zq_thread.h"
#include "status/status.h"

namespace {

// Waits `ms` in short steps while this copy owns the work. False when the work was
// lost meanwhile.
bool pauseWhileOwner(int ms) {
  for (int waited = 0; waited < ms; waited += kRetryWaitStepMs) {
    if (RunFlag.load() == 0 || receivingStopped()) return false;
    statusWatchdog();
    ZqSleep(kRetryWaitStepMs);
  }
  return RunFlag.load() != 0;
}

}  // namespace

std::size_t forwardOnce(SyncConfig& almLogInfo, ForwardQueue& queue, HttpDelivery& delivery,
                        const std::string& urls, const std::string& headers) {
  std::vector<std::string> copyLogData;
  const std::size_t count = queue.take(&copyLogData);
  if (count == 0) return 0;

  std::string body;
  if (almLogInfo.BuildSendLogBody(std::move(copyLogData), body) != 1) {
    queue.settleUnsent();
    return count;
  }
  for (int failures = 0;;) {
    std::string strCallback;
    metricsPostStarted();
    HttpOutcome outcome;
    delivery.post(urls, headers, body, strCallback, &outcome);
    metricsCountReply(outcome);
    almLogInfo.WriteRunLog(body);
    almLogInfo.WriteRunLog(strCallback);
    if (queue.settlePosted(outcome, strCallback) != Settled::kRetry) break;
    if (!pauseWhileOwner(queue.retryPauseMs(++failures))) break;
  }
  return count;
}

void runForwardingLoop(SyncConfig& almLogInfo, ForwardQueue& queue, HttpDelivery& delivery,
                       const std::string& urls, const std::string& headers) {
  while (RunFlag.load() != 0 && !receivingStopped()) {
    statusWatchdog();
    if (forwardOnce(almLogInfo, queue, delivery, urls, headers) == 0) queue.idle();
  }
}
