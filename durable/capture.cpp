#include "durable/capture.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "config/timing.h"
#include "durable/capture_progress.h"
#include "durable/copy_note.h"
#include "durable/durable_keys.h"
#include "durable/seen_marker.h"
#include "platform/clock.h"
#include "platform/decimal.h"
#include "platform/process_ctrl.h"
#include "platform/zq_thread.h"
#include "queue/pending_queue.h"
#include "redis/redis_handles.h"
#include "redis/script_call.h"
#include "redis/subscriber.h"
#include "telemetry/metrics.h"

namespace {


// Texts taken out of the queue by the capture call under way; 0 between calls.
std::atomic<std::size_t> textsInFlight{0};

}  // namespace

bool captureIdle() { return textsInFlight.load() == 0 && pendingSize() == 0; }

bool captureTexts(RedisClient& client, const std::vector<std::string>& texts,
                  const std::string& maxLen) {
  if (texts.empty()) return true;
  // One script call for the whole batch; the texts are passed without a copy.
  std::vector<std::string> markers;
  markers.reserve(texts.size());
  for (const std::string& text : texts) {
    markers.push_back(seenMarkerKey(text));
    if (markers.back().empty()) return false;
  }
  const std::string numKeys = std::to_string(1 + texts.size());
  std::vector<ScriptArg> args = {scriptArg(numKeys), scriptArg(kCaptureStream)};
  args.reserve(3 + 2 * texts.size());
  for (const std::string& marker : markers) args.push_back(scriptArg(marker));
  args.push_back(scriptArg(maxLen));
  args.push_back(scriptArg(kSeenSeconds));
  for (const std::string& text : texts) args.push_back(scriptArg(text));
  RedisReplyPtr reply = callScript(client, 2, kCaptureScriptSha, kCaptureScript, args);
  return reply != nullptr && reply->type == REDIS_REPLY_INTEGER;
}

void* captureThread(void* arg) {
  RedisClient redisOpt(*static_cast<const TarvexOptions*>(arg));
  redisOpt.connect(2);
  const std::string maxLen = std::to_string(redisOpt.options.streamMaxLen);
  char myHost[kUseFlagHostSize] = {};
  get_host_name(myHost);
  const std::string host = myHost;
  CopyNote copyNote(host);  // tarvex:copy:<host>, for tarvex --status

  int64_t lastAlive = -1;     // tarvex:alive of this host before this run; -1 not read yet
  bool startReported = false;  // the gap before this run was reported (or there was none)
  int64_t aliveAtMs = 0;       // steady ms of the last tarvex:alive refresh
  bool masterTakes = true;     // the last capture went through: no count bound
  for (;;) {
    // What arrives within kCaptureGatherMs of the first text goes in one call,
    // unless the owner's reader waits: then the call goes once the texts it misses
    // are queued, and kCaptureLeadMs before it reads in any case.
    const std::size_t waiting = pendingSize();
    std::size_t enough = kCaptureBatch;
    int64_t gatherMs = kCaptureGatherMs;
    const CaptureProgress::Want want = captureProgress().wanted();
    if (want.texts > 0) {
      if (want.texts < enough) enough = static_cast<std::size_t>(want.texts);
      gatherMs = std::min(gatherMs, want.byMs - kCaptureLeadMs - steadyMs());
    }
    if (waiting > 0 && waiting < enough && gatherMs > 0) {
      pendingWaitForTexts(enough, static_cast<int>(gatherMs));
    }
    // The batch leaves the queue while it is captured (held once, not twice) and
    // goes back to its front when no master takes it.
    std::vector<std::string> texts;
    textsInFlight.store(1);  // before the queue can look empty
    const std::size_t n = popBatch(&texts, kCaptureBatch, !masterTakes);
    textsInFlight.store(n);
    if (n > 0) {
      masterTakes = captureTexts(redisOpt, texts, maxLen);
      metricsCaptureTaken(masterTakes);
      if (masterTakes) captureProgress().add(n);
      if (!masterTakes) pendingPutBack(&texts);
      textsInFlight.store(0);
      if (!masterTakes) ZqSleep(kCaptureRetryMs);
    }
    const int64_t nowMs = steadyMs();
    if (nowMs - aliveAtMs >= kAliveEveryMs) {
      aliveAtMs = nowMs;
      if (lastAlive < 0) {
        RedisReplyPtr r = redisOpt.exchange(2, {"HGET", kAliveHash, host});
        if (r != nullptr && r->type != REDIS_REPLY_ERROR) {
          lastAlive = r->type == REDIS_REPLY_STRING ? decimalInt32({r->str, r->len}) : 0;
        }
      }
      if (lastAlive >= 0 && subscriptionHeld()) {
        const int64_t now = wallSeconds();
        if (!startReported) {
          startReported = true;
          if (lastAlive > 0) metricsReportAbsence(lastAlive, now);
        }
        redisOpt.exchange(2, {"HSET", kAliveHash, host, std::to_string(now)});
      }
      copyNote.refresh(redisOpt, nowMs);
    }
    if (n == 0) pendingWaitForTexts(1, kCaptureIdleWaitMs);
  }
  return nullptr;
}
