// The event sites' side of gMetrics.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

#include "delivery/http_post.h"
#include "platform/clock.h"
#include "platform/clock_text.h"
#include "telemetry/metrics.h"
#include "telemetry/stderr_reporter.h"

static_assert(std::atomic<uint64_t>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free,
              "the counters must be lock-free");

ServiceMetrics gMetrics;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void bump(std::atomic<uint64_t>& counter, uint64_t n = 1) { counter.fetch_add(n, kRelaxed); }

// The owner name the standby saw last: only the status line reads it.
std::mutex& ownerHostMutex() {
  static std::mutex* mu = new std::mutex();
  return *mu;
}
std::string& ownerHostText() {
  static std::string* text = new std::string();
  return *text;
}

const char* failureName(const HttpOutcome& outcome) {
  switch (outcome.kind) {
    case HttpOutcomeKind::kConnectFailed: return "connect failed";
    case HttpOutcomeKind::kTlsFailed: return "TLS failed";
    case HttpOutcomeKind::kTimeout: return "timed out";
    case HttpOutcomeKind::kNoReply: return "no reply";
    case HttpOutcomeKind::kReply: break;
  }
  return "reply";
}

}  // namespace

void metricsTextSeen(bool kept) {
  bump(gMetrics.textsReceived);
  if (!kept) bump(gMetrics.textsFiltered);
}

void metricsRecordConverted() { bump(gMetrics.recordsConverted); }

void metricsRecordSkipped(SkipReason reason) {
  bump(gMetrics.recordsSkipped[static_cast<int>(reason)]);
}

void metricsTextsTrimmed(std::size_t n) {
  if (n == 0) return;
  bump(gMetrics.textsTrimmed, n);
  stderrReporter().report("trim", "queue over its bound: the oldest " + std::to_string(n) +
                                      " texts were dropped unsent");
}

void metricsRedisReconnect() { bump(gMetrics.redisReconnects); }

void metricsSentinelDiscovery(bool found) {
  bump(found ? gMetrics.sentinelDiscoveries : gMetrics.sentinelDiscoveryFailures);
}

namespace {

// The newest reported gaps, for the copy's note in Redis; only gap reports and
// their reader take the lock.
std::mutex& gapsMutex() {
  static std::mutex* mu = new std::mutex();
  return *mu;
}
std::deque<GapRecord>& recentGaps() {
  static std::deque<GapRecord>* gaps = new std::deque<GapRecord>();
  return *gaps;
}

// One stderr line per gap, never left out: gaps are the loss an operator must see.
void reportGap(int64_t fromWall, int64_t toWall, int64_t ms, const char* why) {
  {
    std::lock_guard<std::mutex> lock(gapsMutex());
    recentGaps().push_back({fromWall, toWall});
    if (recentGaps().size() > kRecentGapsKept) recentGaps().pop_front();
  }
  std::fprintf(stderr,
               "tarvex: subscription gap from %s to %s (%s s, %s): messages published "
               "then were not received by this copy\n",
               localDateTimeText(fromWall).c_str(), localDateTimeText(toWall).c_str(),
               formatSeconds(ms).c_str(), why);
}

}  // namespace

void metricsSubscribed() {
  gMetrics.subscribed.store(1, kRelaxed);
  const int64_t start = gMetrics.gapStartMs.exchange(0, kRelaxed);
  if (start == 0) return;
  const int64_t ms = steadyMs() - start;
  bump(gMetrics.gapMicros, static_cast<uint64_t>(ms > 0 ? ms : 0) * 1000u);
  const int64_t now = wallSeconds();
  reportGap(gMetrics.gapStartWall.load(kRelaxed), now, ms, "subscription lost");
}

void metricsSubscriptionLost() {
  if (gMetrics.subscribed.exchange(0, kRelaxed) == 0) return;  // no confirmed one to lose
  bump(gMetrics.subscriptionGaps);
  gMetrics.gapStartWall.store(wallSeconds(), kRelaxed);
  gMetrics.gapStartMs.store(steadyMs(), kRelaxed);
  stderrReporter().report("subscription-lost",
                          "subscription to almTopic lost; messages published until it is "
                          "back are not received");
}

void metricsReportAbsence(int64_t fromWall, int64_t toWall) {
  bump(gMetrics.subscriptionGaps);
  const int64_t ms = (toWall - fromWall) * 1000;
  bump(gMetrics.gapMicros, static_cast<uint64_t>(ms > 0 ? ms : 0) * 1000u);
  reportGap(fromWall, toWall, ms, "this copy was not running");
}

std::vector<GapRecord> metricsRecentGaps(int64_t sinceWall) {
  std::vector<GapRecord> out;
  std::lock_guard<std::mutex> lock(gapsMutex());
  for (const GapRecord& g : recentGaps()) {
    if (g.toWall >= sinceWall) out.push_back(g);
  }
  return out;
}

void metricsPostStarted() {
  bump(gMetrics.documentsPosted);
  gMetrics.postStartMs.store(steadyMs(), kRelaxed);
}

ReplyKind replyKindOf(const HttpOutcome& outcome) {
  switch (outcome.kind) {
    case HttpOutcomeKind::kReply:
      if (outcome.status >= 200 && outcome.status < 300) return ReplyKind::k2xx;
      if (outcome.status >= 400 && outcome.status < 500) return ReplyKind::k4xx;
      if (outcome.status >= 500 && outcome.status < 600) return ReplyKind::k5xx;
      return ReplyKind::kOther;
    case HttpOutcomeKind::kConnectFailed:
    case HttpOutcomeKind::kTlsFailed:
      return ReplyKind::kConnectFailed;
    case HttpOutcomeKind::kTimeout:
    case HttpOutcomeKind::kNoReply:
      break;
  }
  return ReplyKind::kNoReply;
}

void metricsCountReply(const HttpOutcome& outcome) {
  const ReplyKind kind = replyKindOf(outcome);
  bump(gMetrics.replies[static_cast<int>(kind)]);

  const int64_t started = gMetrics.postStartMs.load(kRelaxed);
  const int64_t ms = started > 0 ? steadyMs() - started : 0;
  const double seconds = static_cast<double>(ms > 0 ? ms : 0) / 1000.0;
  int bucket = 0;
  while (bucket < kLatencyBuckets && seconds > kLatencyBucketSeconds[bucket]) ++bucket;
  bump(gMetrics.latencyBuckets[bucket]);
  bump(gMetrics.latencySumUs, static_cast<uint64_t>(ms > 0 ? ms : 0) * 1000u);

  const int64_t now = wallSeconds();
  gMetrics.lastPostKind.store(static_cast<int32_t>(kind), kRelaxed);
  gMetrics.lastPostStatus.store(static_cast<int32_t>(outcome.status), kRelaxed);
  gMetrics.lastPostTime.store(now, kRelaxed);
  if (postDelivered(kind)) {
    gMetrics.lastSuccessTime.store(now, kRelaxed);
    return;
  }
  if (outcome.reasonPrinted) return;  // one line per failure on stderr
  std::string text = "post to the receiver failed: ";
  if (outcome.kind == HttpOutcomeKind::kReply) {
    text += "status " + std::to_string(outcome.status);
  } else {
    text += failureName(outcome);
  }
  if (!outcome.error.empty()) text += " (" + outcome.error + ")";
  stderrReporter().report(std::string("post:") + replyKindLabel(kind), text);
}

void metricsOwnerHashRead(int result, const char* host, int32_t heartbeat) {
  gMetrics.ownerHashResult.store(result, kRelaxed);
  gMetrics.ownerHashReadMs.store(steadyMs(), kRelaxed);
  if (result != 1) return;
  gMetrics.ownerHeartbeat.store(heartbeat, kRelaxed);
  std::lock_guard<std::mutex> lock(ownerHostMutex());
  ownerHostText().assign(host, strnlen(host, kOwnerHostShown));
}

std::string ownerHostSeen() {
  std::lock_guard<std::mutex> lock(ownerHostMutex());
  return ownerHostText();
}

void metricsSetDurable(int64_t streamLength, int64_t pending, int64_t deadLetters) {
  gMetrics.streamLength.store(streamLength, kRelaxed);
  gMetrics.streamPending.store(pending, kRelaxed);
  gMetrics.deadLetters.store(deadLetters, kRelaxed);
}

void metricsTextSetAside() { gMetrics.textsSetAside.fetch_add(1, kRelaxed); }

namespace {

// Keeps the start of a failing stretch: set on its first failure, cleared by success.
void noteFailing(std::atomic<int64_t>* since, bool failing) {
  if (!failing) {
    since->store(0, kRelaxed);
  } else if (since->load(kRelaxed) == 0) {
    since->store(steadyMs(), kRelaxed);
  }
}

}  // namespace

void metricsCaptureTaken(bool taken) { noteFailing(&gMetrics.captureFailingSinceMs, !taken); }
void metricsGroupReadFailed(bool failed) { noteFailing(&gMetrics.groupFailingSinceMs, failed); }
void metricsSetOldestPending(int64_t wallMs) { gMetrics.oldestPendingWallMs.store(wallMs, kRelaxed); }

