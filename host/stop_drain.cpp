#include "host/stop_drain.h"

#include <cstdint>

#include "config/timing.h"
#include "durable/capture.h"
#include "host/forwarding_loop.h"
#include "host/stop_signal.h"
#include "platform/clock.h"
#include "platform/zq_thread.h"

namespace {

// True while `needMs` more still end before the stop's bound.
bool fitsBeforeBound(int64_t needMs) { return steadyMs() + needMs <= stopDeadlineMs(); }

}  // namespace

void drainAfterStop(const SyncConfig& almLogInfo, RunLog& runLog, ForwardQueue& queue,
                        DocumentPoster& delivery,
                    const std::string& urls, const std::string& headers, bool durable) {
  if (durable) {
    while (!captureIdle() && fitsBeforeBound(kStopCloseMarginMs)) ZqSleep(kStopCapturePollMs);
    return;
  }
  for (bool first = true; first || fitsBeforeBound(kHttpTimeoutMs + kStopCloseMarginMs);
       first = false) {
    if (forwardOnce(almLogInfo, runLog, queue, delivery, urls, headers) == 0) break;
  }
}
