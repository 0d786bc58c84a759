// Active/standby arbitration through the Redis hash useflag:tarvex.
//
// acquireRunFlag runs once on the main thread: it blocks until this instance owns
// the work (RunFlag set to 1) or the hash cannot be read (RunFlag left 0). It ends
// the process with exit(0) when supervised (selfFlag 0) and the parent is gone.
// Returns 1.
//
// arbitrationThread is the heartbeat thread of the active instance; `arg` points at
// the self-flag byte. It rewrites the heartbeat every kHeartbeatMs while the hash
// names this host, and otherwise sets RunFlag to 0 and returns.
#ifndef TARVEX_HOST_ARBITRATION_H_
#define TARVEX_HOST_ARBITRATION_H_

#include <cstdint>

constexpr const char* kUseFlagKey = "useflag:tarvex";
constexpr int kHeartbeatMs = 3000;    // owner's heartbeat period
constexpr int kStandbyPollMs = 5000;  // standby's read period
constexpr int kStaleReadsToTake = 3;  // take over when the repeat count exceeds this

int acquireRunFlag(unsigned char selfFlag);
void* arbitrationThread(void* arg);

// Current time in whole seconds since 1970, the heartbeat value.
int32_t nowSeconds();

#endif  // TARVEX_HOST_ARBITRATION_H_
