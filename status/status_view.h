// What the status subsystem shows, computed from gMetrics: the Prometheus text,
// the health answer and the one-line systemd status. Internal to status/; every
// function only reads atomics (and the owner name under its lock), so any thread
// may call it while the counters move.
#ifndef TARVEX_STATUS_STATUS_VIEW_H_
#define TARVEX_STATUS_STATUS_VIEW_H_

#include <cstdint>
#include <string>

#include "telemetry/metrics.h"


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


#endif  // TARVEX_STATUS_STATUS_VIEW_H_
