// ServiceNotifier: the systemd notifications (READY=1, STATUS=, WATCHDOG=1), sent
// with sd_notify when NOTIFY_SOCKET is set and never otherwise.
//
// ping() sends WATCHDOG=1 and the current status line, at most once per pace:
// a quarter of WATCHDOG_USEC when that is set (clamped to kMinPingPaceMs ..
// kMaxPingPaceMs), else kMaxPingPaceMs. The first ping goes out at once. Used from
// the thread that runs the forwarding loop or the standby's wait; ready() and
// ping() take no lock and never block beyond one datagram.
#ifndef TARVEX_STATUS_SERVICE_NOTIFY_H_
#define TARVEX_STATUS_SERVICE_NOTIFY_H_

#include <atomic>
#include <cstdint>

#include "config/timing.h"


class ServiceNotifier {
 public:
  ServiceNotifier();

  bool enabled() const { return enabled_; }
  void ready();
  void ping();

 private:
  bool enabled_;
  int64_t paceMs_;
  std::atomic<int64_t> lastPingMs_{0};
};

ServiceNotifier& serviceNotifier();

#endif  // TARVEX_STATUS_SERVICE_NOTIFY_H_
