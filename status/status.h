// The status subsystem's life cycle as the host drives it: the status endpoint,
// the role it shows and the systemd notifications. The counters it shows are in
// telemetry/metrics.h. Any thread may call these; none blocks.
#ifndef TARVEX_STATUS_STATUS_H_
#define TARVEX_STATUS_STATUS_H_

#include "config/tarvex_options.h"

// ---- life cycle -------------------------------------------------------------------
// Starts the endpoint when `options` set StatusListen. A listen failure gives one
// stderr line; the service runs on without it. Call once.
void statusStartEndpoint(const TarvexOptions& options);
// The first arbitration pass begins: role standby, READY=1 to systemd.
void statusArbitrationStarted();
// This copy took the work: role owner.
void statusOwnerStarted();
// Watchdog ping and one-line status to systemd, paced; a no-op without
// NOTIFY_SOCKET. Called from the forwarding loop and from the standby's wait.
void statusWatchdog();

#endif  // TARVEX_STATUS_STATUS_H_
