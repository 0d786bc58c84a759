// Every timing constant of the service, in one place, grouped by what they pace.
// The name ends with its unit (Ms: milliseconds, Sec/Seconds: seconds). Where two
// constants depend on each other the relation is stated beside them and checked by
// a static_assert at the end, so that changing one cannot silently break the other.
#ifndef TARVEX_CONFIG_TIMING_H_
#define TARVEX_CONFIG_TIMING_H_

#include <cstdint>

// ---- units -------------------------------------------------------------------
constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kUsPerMs = 1000;
constexpr long kNsPerMs = 1000000L;

// ---- arbitration (host/arbitration.h) ----------------------------------------
constexpr int kHeartbeatMs = 3000;    // owner's period between heartbeats
constexpr int kStandbyPollMs = 5000;  // standby's period between reads of the owner hash
constexpr int kStaleReadsToTake = 3;  // take over when the repeat count exceeds this (a count)
// /health: a standby whose last read of the owner hash is older than three polls.
constexpr int64_t kStandbyReadStaleMs = 15000;

// ---- planned stops (host/handover.h, host/stop_drain.h) ----------------------
// The owner that gets a stop signal releases useflag:tarvex, then reads it every
// kHandoverReadMs until it names another host or StopHandoverSeconds (tarvex.ini
// [Service]) have passed since the signal. Once a successor is named it goes on
// receiving and forwarding for kHandoverOverlapMs, so that the successor's
// subscription is up, then stops receiving and posts what it holds. The whole stop
// ends at the latest StopHandoverSeconds + kStopBoundExtraMs after the signal: the
// signal watcher ends the process then, whatever is still running.
constexpr int kHandoverReadMs = 1000;         // hash read period while handing over
constexpr int kHandoverOverlapMs = 1000;      // receiving goes on this long after a successor
constexpr int64_t kStopBoundExtraMs = 16000;  // whole stop <= StopHandoverSeconds + this
constexpr int kStopCloseMarginMs = 500;       // left for the closing line before the bound
constexpr int kStopCapturePollMs = 20;        // durable: how often the capture's progress is read
constexpr int32_t kDefaultStopHandoverSeconds = 10;  // [Service] StopHandoverSeconds

// ---- delivery (delivery/, host/forwarding_loop.h, queue/memory_queue.h) -------
constexpr long kHttpTimeoutMs = 15000;  // one whole HTTP exchange, monotonic clock
constexpr int kIdleSleepMs = 100;       // in-memory loop: pause when the queue is empty
constexpr int kRetryWaitStepMs = 100;   // RunFlag is looked at this often while pausing

// ---- durable delivery (durable/) ----------------------------------------------
// An idle owner waits this long for its own capture to put a text through before it
// reads the stream (for entries only other copies added).
constexpr int kStreamIdleWaitMs = 100;
constexpr int kStreamStatsEveryMs = 5000;  // stream figures refreshed this often
constexpr int kStreamFailedWaitMs = 100;   // pause after a read Redis did not answer
constexpr int kClaimEveryMs = 30000;       // entries held too long are claimed this often
// An entry held unacknowledged longer than one post, one longest retry pause and
// one more post could take is claimed: kPostBoundMs + RetryMaxSeconds + kPostBoundMs.
constexpr int kPostBoundMs = 15000;
constexpr int kBatchWindowMs = 100;  // a gathering batch closes this long after its first entry
// Meanwhile the stream is read when this copy's capture has put the texts that fill
// the batch through, when the window closes, or when the capture put nothing through
// for this long (it lags).
constexpr int kBatchPollMs = 50;
constexpr int kCaptureIdleWaitMs = 200;  // capture: longest wait for new texts
constexpr int kCaptureGatherMs = 10;     // capture: texts arriving this soon share a script call
constexpr int kCaptureLeadMs = 2;        // capture: a gather ends this long before a waiting read
constexpr int kCaptureRetryMs = 1000;    // capture: pause after a failed capture
constexpr int kAliveEveryMs = 1000;      // tarvex:alive refreshed this often
constexpr int kCopyNoteEveryMs = 5000;    // tarvex:copy:<host>: longest time between refreshes
constexpr int kCopyNoteLifeSeconds = 60;  // ... and the hash expires this long after one
constexpr int64_t kRecentGapSeconds = 3600;  // --status: gaps older than this are left out

// ---- Redis connections (redis/) -----------------------------------------------
constexpr int kResubscribePauseMs = 1000;  // pause after every subscription attempt
// With SubscribeAlways, a subscription that was held at least this long is made
// again at once when it ends, without the pause: a Sentinel failover ends the
// subscriptions on every node it reconfigures at the same moment, and a pause there
// is a gap on every copy at once. Shorter ones still pause, so a node that drops
// each new subscriber cannot make a busy loop.
constexpr int kQuickResubscribeHeldMs = 100;
// Dead-peer detection on every Redis connection.
constexpr int kKeepAliveIdleSec = 10;     // idle time before the first probe
constexpr int kKeepAliveIntervalSec = 5;  // between unanswered probes
constexpr int kKeepAliveProbes = 3;       // unanswered probes that end the connection (a count)
constexpr int kTcpUserTimeoutMs = 30000;  // unacknowledged data that ends it
constexpr int kDeadPeerSeconds = 40;      // the bound these give, with margin
// TCP connect bound when rdsset.ini sets no command time-out.
constexpr int kConnectTimeoutMs = 10000;

// ---- status and reporting (status/, telemetry/, operator/) -------------------
constexpr int64_t kHealthPostWindowSeconds = 60;  // a post older than this is not judged
constexpr int64_t kCaptureFailingMs = 10000;      // durable: no master took captures this long
constexpr int64_t kGroupFailingMs = 10000;        // durable: the owner cannot read the group
constexpr int64_t kOldestPendingMs = 300000;      // durable: oldest unacknowledged entry's age
constexpr unsigned kStatusConnectionTimeoutSec = 10;  // idle endpoint connections closed after
constexpr int64_t kMinPingPaceMs = 100;           // systemd watchdog pings: fastest pace
constexpr int64_t kMaxPingPaceMs = 10000;         // ... and slowest
constexpr int64_t kReportIntervalMs = 60000;      // stderr: one line per kind per minute
constexpr int64_t kSwitchRereadSeconds = 30;      // run log: re-read the switch after more than this
constexpr int kProbeTimeoutMs = 2000;             // --check: each reach probe
constexpr int kHeartbeatPollMs = 200;             // --status: between two reads of the owner hash
constexpr int kHeartbeatWatchMs = 4000;           // --status: longest watch for a moving heartbeat

// ---- relations ----------------------------------------------------------------
// A standby must see at least one heartbeat between two of its reads, or it would
// count a live owner's hash as stale.
static_assert(kHeartbeatMs < kStandbyPollMs, "heartbeat shorter than the standby poll");
static_assert(kStandbyReadStaleMs == kStaleReadsToTake * kStandbyPollMs,
              "a standby read is stale after the polls a takeover waits for");
// --status watches long enough to see a heartbeat move, reading often enough to catch it.
static_assert(kHeartbeatWatchMs > kHeartbeatMs && kHeartbeatPollMs < kHeartbeatMs,
              "--status sees a live owner's heartbeat move");
// A pending entry is claimed only after the post that holds it must have ended.
static_assert(kPostBoundMs >= kHttpTimeoutMs, "the post bound covers one whole exchange");
// A stop's bound leaves room, after the longest wait, for the overlap, one whole
// post and the closing line.
static_assert(kStopBoundExtraMs >= kHandoverOverlapMs + kHttpTimeoutMs &&
                  kStopBoundExtraMs >= kHttpTimeoutMs + kStopCloseMarginMs,
              "a stop must leave time for the overlap and one post");
// Batching: the stream is looked at several times within one window, and an idle
// owner reads the stream at least once per window.
static_assert(kBatchPollMs < kBatchWindowMs && kStreamIdleWaitMs <= kBatchWindowMs,
              "a gathering batch is looked at within its window");
static_assert(kCaptureGatherMs < kCaptureIdleWaitMs, "capture gathers less than it idles");
static_assert(kCaptureLeadMs < kCaptureGatherMs && kCaptureGatherMs < kBatchPollMs,
              "a gather ends before the read it serves, and within one poll");
static_assert(kCopyNoteEveryMs < kCopyNoteLifeSeconds * kMsPerSecond,
              "a copy's note is refreshed before it expires");
// The dead-peer bound covers what keepalive and the user time-out take.
static_assert(kDeadPeerSeconds * kMsPerSecond >= kTcpUserTimeoutMs &&
                  kDeadPeerSeconds >= kKeepAliveIdleSec + kKeepAliveProbes * kKeepAliveIntervalSec,
              "the dead-peer bound covers keepalive and the user time-out");
static_assert(kMinPingPaceMs < kMaxPingPaceMs, "watchdog pace bounds");

#endif  // TARVEX_CONFIG_TIMING_H_
