#include "config/redis_settings.h"

#include <cstdio>

#include "config/ini_reader.h"

namespace {

constexpr const char* kRedisFile = "rdsset.ini";

// Fills `list` from one section: count key, "host%d"/"port%d" key formats. The
// count is capped so that a mistyped count cannot exhaust memory.
void fillList(IniReader& getIni, std::vector<std::string>& list, const char* section,
              const char* countKey, const char* hostFormat, const char* portFormat,
              const char* defaultPort) {
  list.clear();
  int32_t count = iniInt32(getIni.readNumber(section, countKey, "0"));
  if (count > kMaxRedisEntries) count = kMaxRedisEntries;
  for (int32_t i = 0; i < count; ++i) {
    char str[64];
    char str2[64];
    std::snprintf(str, sizeof(str), hostFormat, static_cast<int>(i));
    std::snprintf(str2, sizeof(str2), portFormat, static_cast<int>(i));
    // The port is read first: the host lookup reuses the reader's result buffer.
    const int32_t port = iniInt32(getIni.readNumber(section, str2, defaultPort));
    std::string info = getIni.readString(section, str, "127.0.0.1");
    info += ':';
    info += std::to_string(port);  // "%s:%d"
    list.push_back(std::move(info));
  }
}

}  // namespace

int RedisSettings::loadSettings() {
  IniReader getIni(kRedisFile);
  mode = iniInt32(getIni.readNumber("ConnectionMode", "Mode", "1"));
  timeoutSec = iniInt32(getIni.readNumber("Format", "OvertimeSec", "0"));
  timeoutUsec = iniInt32(getIni.readNumber("Format", "OvertimeUsec", "0"));
  if (mode == kRedisModeMaster || mode == kRedisModeMasterSlave) {
    fillList(getIni, masterAddrs, "ConnectionMaster", "MasterNum", "MasterIp%d", "MasterPort%d",
             "6379");
  }
  if (mode == kRedisModeMasterSlave) {
    fillList(getIni, slaveAddrs, "ConnectionSlave", "SlaveNum", "SlaveIp%d", "SlavePort%d",
             "6379");
  }
  if (mode == kRedisModeSentinel) {
    fillList(getIni, sentinelAddrs, "Sentinel", "SentinelNum", "SentinelIp%d", "SentinelPort%d",
             "26379");
  }
  return 1;
}
