// The owner's side of a planned stop, run on the arbitration thread once a stop
// signal came (stopRequested()), in place of the next heartbeat.
//
// handOverWork releases useflag:tarvex with one compare-and-delete (only while it
// names this host), then reads it every kHandoverReadMs. Once it names another
// host it waits kHandoverOverlapMs more; when none appears within
// StopHandoverSeconds of the signal it stops waiting. Either way it then moves the
// phase to kFinishing (the subscriber stops, the main thread posts what is held and
// ends) and returns. No heartbeat is written once it has begun. One stderr line
// says how the hand-over ended. `client` is the calling thread's own.
#ifndef TARVEX_HOST_HANDOVER_H_
#define TARVEX_HOST_HANDOVER_H_

#include "config/timing.h"
#include "redis/redis_client.h"

void handOverWork(RedisClient& client, const char myHost[kUseFlagHostSize]);

#endif  // TARVEX_HOST_HANDOVER_H_
