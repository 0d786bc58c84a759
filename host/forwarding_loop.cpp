#include "host/forwarding_loop.h"

#include <deque>
#include <vector>

#include "config/timing.h"
#include "host/post_verdict.h"
#include "host/run_flag.h"
#include "host/stop_signal.h"
#include "platform/clock.h"
#include "platform/zq_thread.h"
#include "status/status.h"
#include "telemetry/metrics.h"

namespace {

// A run of texts of the batch posted as one document, with its failures so far.
struct Part {
  std::size_t first = 0;
  std::size_t count = 0;
  int failures = 0;         // failed attempts with a retry verdict
  int64_t firstFailMs = 0;  // steady ms of the first of them
  int failuresAfterAccept = 0;  // ... made after a later document was accepted
};

// Steady ms of the latest 2xx, for the poison rule; main thread only.
int64_t lastAcceptedMs = 0;

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

// Posts `body` once: counted, and the document and the reply written to the run log.
// The document is handed to the run log after the post, not copied: `body` is
// empty afterwards.
HttpOutcome postAndLog(RunLog& runLog, DocumentPoster& delivery, const std::string& urls,
                       const std::string& headers, std::string* body,
                       std::string* strCallback) {
  strCallback->clear();
  metricsPostStarted();
  HttpOutcome outcome;
  delivery.post(urls, headers, *body, *strCallback, &outcome);
  metricsCountReply(outcome);
  runLog.WriteRunLog(std::move(*body));
  body->clear();
  runLog.WriteRunLog(*strCallback);
  return outcome;
}

// Replaces the front part by its two halves, which inherit its failures.
void splitFront(std::deque<Part>* parts) {
  const Part whole = parts->front();
  Part low = whole;
  low.count = whole.count / 2;
  Part high = whole;
  high.first = whole.first + low.count;
  high.count = whole.count - low.count;
  parts->front() = high;
  parts->push_front(low);
}

// Sets text `index` aside, retrying the write (never the post) until it is stored.
// False when the work was lost meanwhile.
bool setAsideStored(ForwardQueue& queue, const std::vector<std::string>& batch,
                    std::size_t index, long status, const std::string& reply) {
  for (int failures = 0; !queue.setAside(index, batch[index], status, reply);) {
    if (!pauseWhileOwner(queue.retryPauseMs(++failures))) return false;
  }
  metricsTextSetAside();
  return true;
}

// Delivers a batch of the durable queue part by part (see the header). False when
// the work was lost before every part was settled.
bool deliverInParts(const SyncConfig& almLogInfo, RunLog& runLog, ForwardQueue& queue,
                        DocumentPoster& delivery,
                    const std::string& urls, const std::string& headers,
                    const std::vector<std::string>& batch) {
  std::deque<Part> parts = {Part{0, batch.size()}};
  while (!parts.empty()) {
    Part& part = parts.front();
    std::string body;
    std::vector<std::size_t> failedTexts;
    const int built =
        BuildSendLogBody(almLogInfo, batch.data() + part.first, part.count, body, &failedTexts,
                         &runLog);
    if (!failedTexts.empty()) {
      // Converted apart, only the text that fails goes aside.
      if (part.count > 1) {
        splitFront(&parts);
        continue;
      }
      if (!setAsideStored(queue, batch, part.first, 0, kConversionFailedReason)) return false;
      queue.settle(part.first, part.count);
      parts.pop_front();
      continue;
    }
    if (built == 0) {
      // The conversion as a whole failed (memory): try again after a pause.
      if (!pauseWhileOwner(queue.retryPauseMs(++part.failures))) return false;
      continue;
    }
    if (built != 1) {
      queue.settle(part.first, part.count);  // nothing to send
      parts.pop_front();
      continue;
    }

    std::string reply;
    const HttpOutcome outcome = postAndLog(runLog, delivery, urls, headers, &body, &reply);
    const PostVerdict verdict = postVerdictOf(outcome);
    const int64_t nowMs = steadyMs();
    if (verdict == PostVerdict::kAccepted) {
      lastAcceptedMs = nowMs;
      queue.settle(part.first, part.count);
      parts.pop_front();
      continue;
    }
    const bool refused = verdict == PostVerdict::kRejected ||
                         (verdict == PostVerdict::kTooLarge && outcome.kind == HttpOutcomeKind::kReply);
    if (refused || verdict == PostVerdict::kTooLarge) {
      if (part.count > 1) {
        splitFront(&parts);
        continue;
      }
      if (refused) {
        if (!setAsideStored(queue, batch, part.first, outcome.status, reply)) return false;
        queue.settle(part.first, part.count);
        parts.pop_front();
        continue;
      }
      // A single text that times out while being sent is retried like any time-out.
    }
    if (part.failures++ == 0) part.firstFailMs = nowMs;
    if (lastAcceptedMs > part.firstFailMs) ++part.failuresAfterAccept;
    const bool poisonCandidate = verdict != PostVerdict::kCredentials &&
                                 part.failures >= kPoisonFailures &&
                                 nowMs - part.firstFailMs >= queue.retryMaxMs();
    if (poisonCandidate && part.count > 1) {
      splitFront(&parts);  // the halves show which texts the receiver takes
      continue;
    }
    // A single text is poison once it failed again after a later document was
    // accepted, twice: one failure then may be the receiver's own hiccup.
    if (poisonCandidate && part.failuresAfterAccept >= 2) {
      if (!setAsideStored(queue, batch, part.first, outcome.status, reply)) return false;
      queue.settle(part.first, part.count);
      parts.pop_front();
      continue;
    }
    if (!pauseWhileOwner(queue.retryPauseMs(part.failures))) return false;
  }
  return true;
}

}  // namespace

std::size_t forwardOnce(const SyncConfig& almLogInfo, RunLog& runLog, ForwardQueue& queue,
                        DocumentPoster& delivery,
                        const std::string& urls, const std::string& headers) {
  std::vector<std::string> copyLogData;
  const std::size_t count = queue.take(&copyLogData);
  if (count == 0) return 0;

  if (queue.keepsFailed()) {
    deliverInParts(almLogInfo, runLog, queue, delivery, urls, headers, copyLogData);
    return count;
  }
  std::string body;
  if (BuildSendLogBody(almLogInfo, copyLogData, body, &runLog) != 1) return count;
  copyLogData.clear();
  copyLogData.shrink_to_fit();  // the texts are in the document now
  std::string reply;
  postAndLog(runLog, delivery, urls, headers, &body, &reply);
  return count;
}

void runForwardingLoop(const SyncConfig& almLogInfo, RunLog& runLog, ForwardQueue& queue,
                        DocumentPoster& delivery,
                       const std::string& urls, const std::string& headers) {
  while (RunFlag.load() != 0 && !receivingStopped()) {
    statusWatchdog();
    if (forwardOnce(almLogInfo, runLog, queue, delivery, urls, headers) == 0) queue.idle();
  }
  queue.flush();
}
