#include "host/handover.h"

#include <cstdint>
#include <cstdio>

#include "config/timing.h"
#include "host/stop_signal.h"
#include "platform/clock.h"
#include "platform/zq_thread.h"
#include "redis/use_flag.h"

namespace {


double secondsSinceSignal() {
  return static_cast<double>(steadyMs() - stopStartMs()) / static_cast<double>(kMsPerSecond);
}

// Reads the hash every kHandoverReadMs until it names another host (copied into
// `successor`) or the hand-over time is over. True when a successor was named.
bool waitForSuccessor(RedisClient& client, const char myHost[kUseFlagHostSize],
                      char successor[kUseFlagHostSize]) {
  const int64_t until = stopStartMs() + stopHandoverMs();
  for (;;) {
    int32_t time = 0;
    if (client.readUseFlag(successor, time) == 1 && !sameUseFlagHost(successor, myHost)) {
      return true;
    }
    const int64_t left = until - steadyMs();
    if (left <= 0) return false;
    ZqSleep(static_cast<int32_t>(left < kHandoverReadMs ? left : kHandoverReadMs));
  }
}

}  // namespace

void handOverWork(RedisClient& client, const char myHost[kUseFlagHostSize]) {
  const int released = releaseUseFlag(client, myHost);
  char successor[kUseFlagHostSize] = {};
  if (waitForSuccessor(client, myHost, successor)) {
    std::fprintf(stderr, "tarvex: %s took the work %.1f s after the stop signal%s\n", successor,
                 secondsSinceSignal(), released == 1 ? "" : " (the hash did not name this host)");
    ZqSleep(kHandoverOverlapMs);
  } else {
    std::fprintf(stderr, "tarvex: no successor within %lld s of the stop signal%s\n",
                 static_cast<long long>(stopHandoverMs() / kMsPerSecond),
                 released == -1 ? " (the hash could not be released)" : "");
  }
  beginFinishing();
}
