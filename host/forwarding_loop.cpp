#include "host/forwarding_loop.h"

#include <vector>

#include "host/pending_queue.h"
#include "host/run_flag.h"
#include "platform/zq_thread.h"
#include "status/status.h"

std::size_t forwardOnce(SyncConfig& almLogInfo, HttpDelivery& delivery, const std::string& urls,
                        const std::string& headers) {
  std::vector<std::string> copyLogData;
  uint64_t firstSeq = 0;
  const std::size_t count = takeBatch(&copyLogData, &firstSeq);
  if (count == 0) return 0;

  std::string body;
  std::string strCallback;
  if (almLogInfo.BuildSendLogBody(std::move(copyLogData), body) == 1) {
    metricsPostStarted();
    HttpOutcome outcome;
    delivery.post(urls, headers, body, strCallback, &outcome);
    metricsCountReply(outcome);
    almLogInfo.WriteRunLog(body);
    almLogInfo.WriteRunLog(strCallback);
  }
  // The batch goes whatever happened: nothing is retried.
  pendingRemoveTaken(firstSeq, count);
  return count;
}

void runForwardingLoop(SyncConfig& almLogInfo, HttpDelivery& delivery,
                       const std::string& urls, const std::string& headers) {
  while (RunFlag.load() != 0) {
    statusWatchdog();
    if (forwardOnce(almLogInfo, delivery, urls, headers) == 0) ZqSleep(kIdleSleepMs);
  }
}
