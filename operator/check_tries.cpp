#include "operator/check_tries.h"

#include <vector>

#include "config/ini_keys.h"
#include "operator/reach_probe.h"
#include "redis/server_version.h"

namespace {

// With Durable=1, a master that names an older Redis than the stream needs.
void checkDurableVersion(CheckReport& report, const TarvexOptions& options,
                         const std::string& addr, const ProbeResult& r) {
  if (options.durable != 1 || !r.ok) return;
  if (compareRedisVersion(r.version, kDurableRedisMajor, kDurableRedisMinor) ==
      ServerVersion::kOlder) {
    report.error(std::string(kOptionsFile) + ": " + ini::kDurable + "=1 needs Redis " +
                 std::to_string(kDurableRedisMajor) + "." + std::to_string(kDurableRedisMinor) +
                 " or later (XAUTOCLAIM), but master " + addr + " runs " + r.version +
                 ", so the service does not start. Upgrade Redis or set " + ini::kDurable + "=0");
  }
}

void tryMaster(CheckReport& report, const TarvexOptions& options, const std::string& label,
               const std::string& addr) {
  const ProbeResult r =
      probeRedis(addr, options.redisUser, options.redisPassword, false, options.durable == 1);
  report.tried(label, r);
  checkDurableVersion(report, options, addr, r);
}

}  // namespace

void tryEverything(CheckReport& report, const RedisSettings& settings,
                   const TarvexOptions& options, const std::string& url) {
  report.heading("Tries (" + std::to_string(kProbeTimeoutMs / 1000) + " s each)");
  if (settings.mode == kRedisModeSentinel) {
    std::vector<std::string> masters;
    for (const std::string& addr : settings.sentinelAddrs) {
      ProbeResult r = probeRedis(addr, options.sentinelUser, options.sentinelPassword, true);
      report.tried("Sentinel " + addr, r);
      if (masters.empty() && r.ok) masters = r.masters;
    }
    for (const std::string& addr : masters) {
      tryMaster(report, options, "master " + addr + " (found)", addr);
    }
  } else {
    for (const std::string& addr : settings.masterAddrs) {
      tryMaster(report, options, "master " + addr, addr);
    }
    for (const std::string& addr : settings.slaveAddrs) {
      report.tried("slave " + addr,
                   probeRedis(addr, options.redisUser, options.redisPassword, false));
    }
  }
  if (!url.empty()) {
    report.tried("receiver", probeReceiver(url, {options.caFile, options.clientCertFile,
                                                 options.clientKeyFile}));
  }
}
