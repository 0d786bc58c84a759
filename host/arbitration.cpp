#include "host/arbitration.h"

#include "config/timing.h"
#include "host/handover.h"
#include "host/run_flag.h"
#include "host/stop_signal.h"
#include "platform/process_ctrl.h"
#include "platform/quiet_end.h"
#include "platform/zq_thread.h"
#include "platform/zq_time.h"
#include "redis/redis_client.h"
#include "status/status.h"
#include "telemetry/metrics.h"

namespace {

// Ends the process when supervised and the supervising parent is gone; otherwise
// sleeps `ms`, less when a stop signal comes. Called once before every wait.
void checkParentThenSleep(bool self, CProcessCtrl& proc, int ms) {
  if (!self && proc.ISeeFather() == 0) endProcess();
  waitForStop(ms);
}

}  // namespace

int32_t nowSeconds() {
  int32_t tmptime = 0;
  CZqTime t;
  t.GetNow(&tmptime, nullptr);
  return tmptime;
}

int acquireRunFlag(unsigned char selfFlag, const TarvexOptions& options) {
  RedisClient redisOpt(options);
  redisOpt.connect(3);

  char myHost[kUseFlagHostSize] = {};  // this host's name, zero-filled
  get_host_name(myHost);
  char host[kUseFlagHostSize] = {};    // owner's name read from the hash
  int32_t time = 0;                    // heartbeat read from the hash
  int32_t lastTime = kFirstLastTime;   // heartbeat seen at the previous read
  int32_t staleCount = 0;              // reads in a row showing the same foreign heartbeat
  int loop = 1;                        // 0 ends the pass
  CProcessCtrl proc;

  while (loop == 1) {
    const int r = redisOpt.readUseFlag(host, time);
    metricsOwnerHashRead(r, host, time);
    bool take = false;
    if (r == -1) {
      loop = 0;  // Redis cannot be read: give up, RunFlag stays 0
    } else if (r == 0 || sameUseFlagHost(host, myHost)) {
      take = true;  // no owner recorded, or this host already owns the work
    } else {
      if (time == lastTime) {
        ++staleCount;
      } else {
        lastTime = time;
        staleCount = 0;
      }
      take = staleCount > kStaleReadsToTake;
    }
    if (take) {
      if (!claimOwnership()) endProcess();  // a stop signal came first: end as a standby
      redisOpt.writeUseFlag(myHost, nowSeconds());
      RunFlag.store(1);
      loop = 0;
    }
    if (loop == 1) statusWatchdog();
    if (loop == 1) checkParentThenSleep(selfFlag != 0, proc, kStandbyPollMs);
  }
  return 1;
}

void* arbitrationThread(void* arg) {
  const ArbitrationStart& start = *static_cast<const ArbitrationStart*>(arg);
  const unsigned char* selfFlag = start.selfFlag;
  RedisClient redisOpt(*start.options);
  redisOpt.connect(3);

  char myHost[kUseFlagHostSize] = {};  // this host's name, zero-filled
  get_host_name(myHost);
  char host[kUseFlagHostSize] = {};    // owner's name read from the hash
  int32_t time = 0;                    // heartbeat read from the hash (not used here)
  int loop = 1;                        // 0 ends the thread
  CProcessCtrl proc;

  // The take-over was written to a master, and the reads go to a replica when one
  // answers: give replication one heartbeat period to bring the new owner's name
  // there before the first read, or the new owner would read the old hash and end
  // at once. The heartbeat written by the take-over is fresh, so nothing is lost.
  checkParentThenSleep(selfFlag != nullptr && *selfFlag != 0, proc, kHeartbeatMs);

  while (loop == 1) {
    if (stopRequested()) {
      // A planned stop: no more heartbeats; the work is handed over from here.
      handOverWork(redisOpt, myHost);
      return nullptr;
    }
    const int r = redisOpt.readUseFlag(host, time);
    if (r == 1 && sameUseFlagHost(host, myHost)) {
      redisOpt.writeUseFlag(myHost, nowSeconds());
    } else {
      // Another owner, a missing field or no reply: the work is lost.
      loop = 0;
      RunFlag.store(0);
    }
    if (loop == 1) {
      const bool self = selfFlag != nullptr && *selfFlag != 0;
      checkParentThenSleep(self, proc, kHeartbeatMs);
    }
  }
  return nullptr;
}
