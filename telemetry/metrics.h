// The service's counters, as every room reports into them: the calls made where an
// event happens, and the labels they are shown with.
//
// Every counter is a lock-free std::atomic in gMetrics, updated with relaxed order
// at the event site; any thread may call any function here at any time. The owner
// host name of the standby line is the one value kept under a lock (never taken on
// the counting paths). Nothing here blocks: stderr lines are rate-limited.
#ifndef TARVEX_TELEMETRY_METRICS_H_
#define TARVEX_TELEMETRY_METRICS_H_


#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "delivery/http_outcome.h"

// Why a record (or a whole text) of a batch gave nothing to send.
enum class SkipReason : int {
  kUnreadableText,    // the text is not strict JSON with an array at its root
  kNotObject,         // an array element that is not an object
  kNotControl,        // classname other than "Control"
  kUnknownAppSystem,  // appsysid not in the dictionary
  kUnknownStation,    // groupname not in the dictionary
  kCount
};

// How a post ended, as counted.
enum class ReplyKind : int {
  k2xx,
  k4xx,
  k5xx,
  kOther,          // a 1xx or 3xx final answer, or a reply whose status is not known
  kNoReply,        // closed, reset, time-out, cut off, not sendable
  kConnectFailed,  // refused, not resolved, TLS handshake failed
  kCount
};

enum class ServiceRole : int32_t { kStarting = 0, kStandby = 1, kOwner = 2 };

// Upper bounds of the delivery-latency histogram, seconds (+Inf is implied).
constexpr int kLatencyBuckets = 11;
constexpr double kLatencyBucketSeconds[kLatencyBuckets] = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                          0.5,   1.0,  2.5,   5.0,  15.0};

struct ServiceMetrics {
  std::atomic<int32_t> role{0};  // a ServiceRole
  std::atomic<uint64_t> textsReceived{0};   // texts the subscriber looked at
  std::atomic<uint64_t> textsFiltered{0};   // ... of which dropped: no "Control"
  std::atomic<uint64_t> textsTrimmed{0};    // dropped by the queue bound
  std::atomic<uint64_t> recordsConverted{0};
  std::atomic<uint64_t> recordsSkipped[static_cast<int>(SkipReason::kCount)] = {};
  std::atomic<uint64_t> documentsPosted{0};  // every attempt, whatever its outcome
  std::atomic<uint64_t> replies[static_cast<int>(ReplyKind::kCount)] = {};
  std::atomic<uint64_t> latencyBuckets[kLatencyBuckets + 1] = {};  // last: above every bound
  std::atomic<uint64_t> latencySumUs{0};
  std::atomic<uint64_t> redisReconnects{0};
  std::atomic<uint64_t> sentinelDiscoveries{0};       // answered with a master
  std::atomic<uint64_t> sentinelDiscoveryFailures{0};  // no Sentinel or no master
  std::atomic<int32_t> subscribed{0};          // 1 from a confirmation to the loss
  std::atomic<uint64_t> subscriptionGaps{0};   // losses of the subscription
  std::atomic<uint64_t> gapMicros{0};          // length of the gaps that ended
  std::atomic<int64_t> gapStartMs{0};          // steady ms of the open gap's start; 0: none
  std::atomic<int64_t> gapStartWall{0};        // wall seconds of that start
  std::atomic<int64_t> postStartMs{0};         // steady ms when the latest post began
  std::atomic<int64_t> lastPostTime{0};        // wall seconds of the latest post's end; 0: none
  std::atomic<int32_t> lastPostKind{0};        // its ReplyKind
  std::atomic<int32_t> lastPostStatus{0};      // its HTTP status, 0 when none or unknown
  std::atomic<int64_t> lastSuccessTime{0};     // wall seconds of the latest delivered post
  std::atomic<int32_t> ownerHashResult{-2};    // latest standby read: 1, 0, -1; -2 none yet
  std::atomic<int64_t> ownerHashReadMs{0};     // steady ms of that read
  std::atomic<int32_t> ownerHeartbeat{0};      // heartbeat it showed
  // Durable delivery, set by its owner; 0 while it does not run.
  std::atomic<int64_t> streamLength{0};
  std::atomic<int64_t> streamPending{0};
  std::atomic<int64_t> deadLetters{0};
  std::atomic<uint64_t> textsSetAside{0};         // texts this copy put in the dead letters
  std::atomic<int64_t> captureFailingSinceMs{0};  // steady ms since no master takes captures; 0: one does
  std::atomic<int64_t> groupFailingSinceMs{0};    // steady ms since the owner cannot read the group; 0: it can
  std::atomic<int64_t> oldestPendingWallMs{0};    // wall ms of the oldest unacknowledged entry; 0: none
};

extern ServiceMetrics gMetrics;

// ---- event sites ----------------------------------------------------------------
void metricsTextSeen(bool kept);          // subscriber: one text looked at
void metricsRecordConverted();            // conversion: one record into the document
void metricsRecordSkipped(SkipReason reason);
void metricsTextsTrimmed(std::size_t n);  // queue bound dropped n texts (stderr line)
void metricsRedisReconnect();             // a broken connection is being replaced
void metricsSentinelDiscovery(bool found);
void metricsSubscribed();                 // a subscription was confirmed (ends a gap)
void metricsSubscriptionLost();           // the confirmed subscription broke (starts one)
// Durable delivery: this copy was away (not running) from fromWall to toWall, as
// its last tarvex:alive note shows; counted and reported as a gap.
void metricsReportAbsence(int64_t fromWall, int64_t toWall);
// A subscription gap this copy reported (an ended loss, or an absence): wall seconds.
struct GapRecord {
  int64_t fromWall;
  int64_t toWall;
};
constexpr std::size_t kRecentGapsKept = 10;  // newest reported gaps remembered
// The remembered gaps that ended at or after sinceWall, oldest first. Takes a lock
// that only gap reports take.
std::vector<GapRecord> metricsRecentGaps(int64_t sinceWall);
void metricsPostStarted();                // a document is about to be posted
// The outcome of the post begun by the latest metricsPostStarted: its kind, its
// latency, the last-post fields; a failure gives a rate-limited stderr line with
// outcome.error, unless the delivery printed its reason already (reasonPrinted).
void metricsCountReply(const HttpOutcome& outcome);
// A standby's read of the owner hash (result as RedisClient::readUseFlag).
void metricsOwnerHashRead(int result, const char* host, int32_t heartbeat);
void metricsSetDurable(int64_t streamLength, int64_t pending, int64_t deadLetters);
void metricsTextSetAside();               // one text went to the dead letters
void metricsCaptureTaken(bool taken);     // a capture call a master took, or not
void metricsGroupReadFailed(bool failed);  // the owner's latest read or claim of the group
void metricsSetOldestPending(int64_t wallMs);  // the oldest unacknowledged entry; 0: none

ReplyKind replyKindOf(const HttpOutcome& outcome);

// Label values of the reply kinds and skip reasons, as on /metrics.
const char* replyKindLabel(ReplyKind kind);
const char* skipReasonLabel(SkipReason reason);

// True when a post ending so was taken by the receiver: a 2xx.
bool postDelivered(ReplyKind kind);

constexpr std::size_t kOwnerHostShown = 127;  // bytes of the owner name kept
// Owner name of the latest standby read ("" before any).
std::string ownerHostSeen();

// 12345 -> "12,345".
std::string groupThousands(uint64_t n);
// Milliseconds as seconds with one decimal: 3250 -> "3.2".
std::string formatSeconds(int64_t ms);

#endif  // TARVEX_TELEMETRY_METRICS_H_
