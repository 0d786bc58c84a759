// What the status subsystem shows, computed from gMetrics: the Prometheus text,
// the health answer and the one-line systemd status. Internal to status/; every
// function only reads atomics (and the owner name under its lock), so any thread
// may call it while the counters move.
#ifndef TARVEX_STATUS_STATUS_VIEW_H_
#define TARVEX_STATUS_STATUS_VIEW_H_

#include <cstdint>
#include <string>

#include "status/status.h"

constexpr std::size_t kOwnerHostShown = 127;       // bytes of the owner name kept
constexpr int64_t kHealthPostWindowSeconds = 60;   // a post older than this is not judged
constexpr int64_t kStandbyReadStaleMs = 15000;     // three standby polls without a read
constexpr int64_t kCaptureFailingMs = 10000;       // durable: no master took captures this long
constexpr int64_t kGroupFailingMs = 10000;         // durable: the owner cannot read the group
constexpr int64_t kOldestPendingMs = 300000;       // durable: oldest unacknowledged entry's age

// Label values of the reply kinds and skip reasons, as on /metrics.
const char* replyKindLabel(ReplyKind kind);
const char* skipReasonLabel(SkipReason reason);

// True when a post ending so was taken by the receiver: a 2xx.
bool postDelivered(ReplyKind kind);

// Every metric in the Prometheus text exposition format 0.0.4.
std::string renderMetrics();

struct HealthAnswer {
  int httpStatus;    // 200 or 503
  std::string json;  // {"status":"ok"|"failing","role":...[,"reason":...]}
};
HealthAnswer healthAnswer(int64_t nowSteadyMs, int64_t nowWallSeconds);

// "owner: 12,345 documents, last reply 200 3 s ago",
// "standby: owner hostB, heartbeat 1796747813", "starting".
std::string statusLine(int64_t nowWallSeconds);

// Owner name of the latest standby read ("" before any).
std::string ownerHostSeen();

// 12345 -> "12,345".
std::string groupThousands(uint64_t n);
// Milliseconds as seconds with one decimal: 3250 -> "3.2".
std::string formatSeconds(int64_t ms);

#endif  // TARVEX_STATUS_STATUS_VIEW_H_
