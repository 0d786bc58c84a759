#include "status/service_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "config/tarvex_options.h"
#include "config/timing.h"
#include "platform/clock.h"
#include "platform/decimal.h"
#include "status/status.h"
#include "status/status_endpoint.h"
#include "status/status_view.h"
#include "telemetry/metrics.h"

namespace {

// The status as one value: a control byte (a newline would start another assignment,
// such as WATCHDOG=trigger, and the owner's name comes from Redis) becomes '?'.
std::string statusValue(int64_t nowWallSeconds) {
  std::string text = statusLine(nowWallSeconds);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return text;
}

}  // namespace

ServiceNotifier::ServiceNotifier() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  enabled_ = socket != nullptr && socket[0] != '\0';
  paceMs_ = kMaxPingPaceMs;
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (usec != nullptr) {
    // Read as 32 bits: every value the clamp below can tell apart fits.
    static_assert(kMaxPingPaceMs * 4000 <= INT32_MAX, "WATCHDOG_USEC read as 32 bits");
    const int64_t value = decimalInt32(usec);
    if (value > 0) paceMs_ = value / 4000;
    if (paceMs_ < kMinPingPaceMs) paceMs_ = kMinPingPaceMs;
    if (paceMs_ > kMaxPingPaceMs) paceMs_ = kMaxPingPaceMs;
  }
}

void ServiceNotifier::ready() {
  if (!enabled_) return;
  const std::string text = "READY=1\nSTATUS=" + statusValue(wallSeconds());
  sd_notify(0, text.c_str());
}

void ServiceNotifier::ping() {
  if (!enabled_) return;
  const int64_t now = steadyMs();
  const int64_t last = lastPingMs_.load(std::memory_order_relaxed);
  if (last != 0 && now - last < paceMs_) return;
  lastPingMs_.store(now, std::memory_order_relaxed);
  const std::string text = "WATCHDOG=1\nSTATUS=" + statusValue(wallSeconds());
  sd_notify(0, text.c_str());
}

ServiceNotifier& serviceNotifier() {
  static ServiceNotifier* notifier = new ServiceNotifier();  // read by threads until _exit
  return *notifier;
}

void statusOwnerStarted() { gMetrics.role.store(static_cast<int32_t>(ServiceRole::kOwner)); }

void statusStartEndpoint(const TarvexOptions& options) {
  if (options.statusListen.empty()) return;
  static StatusEndpoint* endpoint = new StatusEndpoint();  // serves until the process ends
  endpoint->start(options.statusListen);
}

void statusArbitrationStarted() {
  gMetrics.role.store(static_cast<int32_t>(ServiceRole::kStandby));
  serviceNotifier().ready();
}

void statusWatchdog() { serviceNotifier().ping(); }
