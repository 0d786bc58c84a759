// Stop signals (SIGTERM, SIGINT) and the stop state of this copy.
//
// No signal handler runs: installStopSignals blocks both signals in the calling
// thread, which every thread started later inherits, and a watcher thread takes
// them with sigwait. On the first signal the watcher
//   - ends the process at once (status 0) when StopHandoverSeconds is 0, or when
//     this copy has not taken the work (a standby, or a copy still starting);
//   - otherwise (the owner) moves the phase to kHandingOver and wakes waitForStop;
//     the arbitration thread then hands the work over (host/handover.h) and the
//     main thread finishes (host/stop_drain.h).
// A second signal, or the bound StopHandoverSeconds + kStopBoundExtraMs after the
// first (config/timing.h), ends the process at once with status 0.
//
// Every function may be called from any thread; the phase only moves forward.
#ifndef TARVEX_HOST_STOP_SIGNAL_H_
#define TARVEX_HOST_STOP_SIGNAL_H_

#include <cstdint>

#include "config/timing.h"

enum class StopPhase : int32_t {
  kRunning = 0,      // no stop signal yet
  kHandingOver = 1,  // the owner got one: no heartbeats, still receiving and forwarding
  kFinishing = 2,    // stop receiving, post what is held, write the closing line, end
};

// Call once on the main thread, before any other thread starts. Until
// setStopHandoverSeconds is called the default of tarvex.ini applies. False when
// the watcher could not start; the signals are then left as they were (they kill).
bool installStopSignals();
// StopHandoverSeconds as loaded from tarvex.ini (0: a signal ends the copy at once).
void setStopHandoverSeconds(int32_t seconds);

// The take-over of the standby's pass, called before the hash is written: true
// when this copy is the owner from now on (a stop signal hands over); false when a
// stop signal came first and the caller must end instead.
bool claimOwnership();

StopPhase stopPhase();
bool stopRequested();     // the phase is past kRunning
bool receivingStopped();  // the phase is kFinishing
// Moves the phase to kFinishing (the hand-over wait is over).
void beginFinishing();

// Sleeps `ms`, or less when a stop signal comes to the owner. True when stopping.
bool waitForStop(int ms);

// The two below are on the monotonic clock, steadyMs() (platform/clock.h).
// The time of the first signal and of the bound at which the watcher ends the
// process; 0 before a signal.
int64_t stopStartMs();
int64_t stopDeadlineMs();
// StopHandoverSeconds in ms, as in force.
int64_t stopHandoverMs();

#endif  // TARVEX_HOST_STOP_SIGNAL_H_
