#include "host/forwarding_loop.h"

#include <vector>

#include "delivery/http_post.h"
#include "host/pending_queue.h"
#include "host/run_flag.h"
#include "platform/zq_thread.h"
#include "status/status.h"

std::size_t forwardOnce(SyncConfig& almLogInfo, const std::string& urls,
                        const std::string& headers) {
  std::vector<std::string> copyLogData;
  const std::size_t count = takeBatch(&copyLogData);
  if (count == 0) return 0;

  std::string body;
  std::string strCallback;
  if (almLogInfo.BuildSendLogBody(std::move(copyLogData), body) == 1) {
    metricsPostStarted();
    httpPost(urls, headers, body, strCallback);
    // Until httpPost hands back its HttpOutcome, the reply text is all there is.
    metricsCountReply(outcomeFromReplyText(strCallback));
    almLogInfo.WriteRunLog(body);
    almLogInfo.WriteRunLog(strCallback);
  }
  // The batch goes whatever happened: nothing is retried.
  pendingDropOldest(count);
  return count;
}

void runForwardingLoop(SyncConfig& almLogInfo, const std::string& urls,
                       const std::string& headers) {
  while (RunFlag.load() != 0) {
    statusWatchdog();
    if (forwardOnce(almLogInfo, urls, headers) == 0) ZqSleep(kIdleSleepMs);
  }
}
