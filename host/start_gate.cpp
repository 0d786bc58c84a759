#include "host/start_gate.h"

#include <cstdio>
#include <string>

#include "config/config_path.h"
#include "redis/redis_client.h"
#include "redis/server_version.h"

bool startGateOpen(const TarvexOptions& options) {
  if (options.unreadable) {
    std::fprintf(stderr, "tarvex: %s cannot be read (%s); not starting without its settings\n",
                 configPath(kOptionsFile).c_str(), options.whyUnreadable.c_str());
    return false;
  }
  if (options.durable == 1) {
    RedisClient client(options);
    std::string version;
    std::string address;
    if (checkServerVersion(client, kDurableRedisMajor, kDurableRedisMinor, &version, &address) ==
        ServerVersion::kOlder) {
      std::fprintf(stderr,
                   "tarvex: Durable=1 needs Redis %d.%d or later (XAUTOCLAIM), but master %s "
                   "runs %s; not starting\n",
                   kDurableRedisMajor, kDurableRedisMinor, address.c_str(), version.c_str());
      return false;
    }
  }
  return true;
}
