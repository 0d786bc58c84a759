#include "host/stop_signal.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "config/tarvex_options.h"
#include "config/timing.h"
#include "platform/clock.h"
#include "platform/quiet_end.h"
#include "platform/zq_thread.h"

namespace {


sigset_t gStopSet;                   // SIGTERM and SIGINT, filled by installStopSignals
std::mutex gStopMutex;               // orders the first signal against claimOwnership
std::condition_variable gStopWoken;  // notified when the phase moves
bool gOwner = false;                 // guarded by gStopMutex: the work was taken
std::atomic<int32_t> gPhase{static_cast<int32_t>(StopPhase::kRunning)};
std::atomic<int64_t> gHandoverMs{int64_t{kDefaultStopHandoverSeconds} * kMsPerSecond};
std::atomic<int64_t> gStartMs{0};
std::atomic<int64_t> gDeadlineMs{0};

void movePhase(StopPhase phase) {
  {
    std::lock_guard<std::mutex> lock(gStopMutex);
    gPhase.store(static_cast<int32_t>(phase));
  }
  gStopWoken.notify_all();
}

// Waits for a second signal until the bound; either ends the process.
[[noreturn]] void endBySecondSignalOrBound() {
  for (;;) {
    const int64_t left = gDeadlineMs.load() - steadyMs();
    if (left <= 0) break;
    struct timespec wait;
    wait.tv_sec = static_cast<time_t>(left / kMsPerSecond);
    wait.tv_nsec = static_cast<long>(left % kMsPerSecond) * kNsPerMs;
    if (sigtimedwait(&gStopSet, nullptr, &wait) > 0) {
      std::fprintf(stderr, "tarvex: second stop signal: ending at once\n");
      endProcess();
    }
  }
  std::fprintf(stderr, "tarvex: stop bound reached: ending at once\n");
  endProcess();
}

void* stopWatcher(void*) {
  int sig = 0;
  while (sigwait(&gStopSet, &sig) != 0) {
  }
  const int64_t handoverMs = gHandoverMs.load();
  if (handoverMs <= 0) endProcess();  // StopHandoverSeconds=0: as a kill would
  {
    std::lock_guard<std::mutex> lock(gStopMutex);
    if (!gOwner) endProcess();  // a standby: nothing to hand over
    const int64_t now = steadyMs();
    gStartMs.store(now);
    gDeadlineMs.store(now + handoverMs + kStopBoundExtraMs);
    gPhase.store(static_cast<int32_t>(StopPhase::kHandingOver));
  }
  gStopWoken.notify_all();
  std::fprintf(stderr, "tarvex: stop signal: handing the work over (waiting up to %lld s)\n",
               static_cast<long long>(handoverMs / kMsPerSecond));
  endBySecondSignalOrBound();
}

}  // namespace

bool installStopSignals() {
  sigemptyset(&gStopSet);
  sigaddset(&gStopSet, SIGTERM);
  sigaddset(&gStopSet, SIGINT);
  sigset_t before;
  if (pthread_sigmask(SIG_BLOCK, &gStopSet, &before) != 0) return false;
  if (ZQ_CreateThread(stopWatcher, nullptr, 100) != 0) return true;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return false;
}

void setStopHandoverSeconds(int32_t seconds) {
  gHandoverMs.store(seconds > 0 ? int64_t{seconds} * kMsPerSecond : 0);
}

bool claimOwnership() {
  std::lock_guard<std::mutex> lock(gStopMutex);
  if (gPhase.load() != static_cast<int32_t>(StopPhase::kRunning)) return false;
  gOwner = true;
  return true;
}

StopPhase stopPhase() { return static_cast<StopPhase>(gPhase.load()); }

bool stopRequested() { return stopPhase() != StopPhase::kRunning; }

bool receivingStopped() { return stopPhase() == StopPhase::kFinishing; }

void beginFinishing() { movePhase(StopPhase::kFinishing); }

bool waitForStop(int ms) {
  std::unique_lock<std::mutex> lock(gStopMutex);
  return gStopWoken.wait_for(lock, std::chrono::milliseconds(ms > 0 ? ms : 0),
                             [] { return stopRequested(); });
}

int64_t stopStartMs() { return gStartMs.load(); }

int64_t stopDeadlineMs() { return gDeadlineMs.load(); }

int64_t stopHandoverMs() { return gHandoverMs.load(); }
