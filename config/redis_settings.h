// RedisSettings: how to reach Redis, from rdsset.ini.
//
// loadSettings reads the mode, the command time-out and the address lists of that
// mode (each "host:port", in index order) and returns 1. A missing file gives mode
// 1 with no addresses and no time-out; a missing entry key gives 127.0.0.1 and the
// default port. A list holds at most kMaxRedisEntries entries, whatever its count
// key says. Address texts are kept whole: the connections skip a text too long for
// their address records. Each RedisClient loads its own copy once.
#ifndef TARVEX_CONFIG_REDIS_SETTINGS_H_
#define TARVEX_CONFIG_REDIS_SETTINGS_H_

#include <cstdint>
#include <string>
#include <vector>

// Connection modes of [ConnectionMode] Mode.
constexpr int32_t kRedisModeMaster = 1;       // masters only
constexpr int32_t kRedisModeMasterSlave = 2;  // masters and slaves
constexpr int32_t kRedisModeSentinel = 3;     // discovered through Sentinels

constexpr std::size_t kMaxRedisHost = 51;     // characters of a host name
constexpr std::size_t kMaxRedisAddress = 127; // characters of a "host:port" text
constexpr int32_t kMaxRedisEntries = 1024;    // entries read into one address list

struct RedisSettings {
  int loadSettings();

  int32_t mode = 0;         // 1 master, 2 master and slave, 3 Sentinel; other: no lists
  int32_t timeoutSec = 0;   // seconds part of the command time-out
  int32_t timeoutUsec = 0;  // microseconds part of the command time-out
  std::vector<std::string> sentinelAddrs;  // mode 3: Sentinels, in file order
  std::vector<std::string> masterAddrs;    // modes 1, 2 from the file; mode 3 discovered
  std::vector<std::string> slaveAddrs;     // mode 2 from the file; mode 3 discovered
};

#endif  // TARVEX_CONFIG_REDIS_SETTINGS_H_
