// Active/standby arbitration through the Redis hash useflag:tarvex.
//
// acquireRunFlag runs once on the main thread, before any worker thread. It reads
// the hash every kStandbyPollMs and takes the work (writes its name and time, sets
// RunFlag to 1, returns at once) when the hash is empty or lacks a field, names
// this host, or names another host whose time has stayed the same for more than
// kStaleReadsToTake reads after the first. It returns with RunFlag left 0 when the
// hash cannot be read. Before every wait, unless selfFlag is set, it ends the
// process (status 0) when the supervising parent is gone. A stop signal that came
// before the take ends the process instead of the take (claimOwnership). Returns 1.
//
// arbitrationThread is the thread procedure of the active instance; `arg` points at
// an ArbitrationStart, which must outlive the thread; its self-flag byte is read at
// every check. It
// waits kHeartbeatMs first (the take-over write must reach the replica it reads
// from), then reads the hash every kHeartbeatMs and rewrites the heartbeat while the hash names
// this host; on any other read (another host, a missing field, no reply) it sets
// RunFlag to 0 and returns null. Once a stop signal came (its waits end early
// then) it writes no more heartbeats, runs handOverWork (host/handover.h) and
// returns null, leaving RunFlag as it is. Unless the self flag is set it ends the process
// when the supervising parent is gone. Each routine owns its own RedisClient, made
// with the service's options.
#ifndef TARVEX_HOST_ARBITRATION_H_
#define TARVEX_HOST_ARBITRATION_H_

#include <cstdint>

#include "config/tarvex_options.h"
#include "config/timing.h"
#include "redis/use_flag.h"

constexpr int32_t kFirstLastTime = 1; // heartbeat value assumed seen before the first read

struct ArbitrationStart {
  const unsigned char* selfFlag;
  const TarvexOptions* options;
};

int acquireRunFlag(unsigned char selfFlag, const TarvexOptions& options);
void* arbitrationThread(void* arg);

// Current time in whole seconds since 1970, the heartbeat value.
int32_t nowSeconds();

#endif  // TARVEX_HOST_ARBITRATION_H_
