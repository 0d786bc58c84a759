#include "config/redis_settings.h"

#include "config/ini_keys.h"
#include "config/ini_reader.h"

namespace {

// Fills `list` from one section: count key, host and port key prefixes. The count
// is capped so that a mistyped count cannot exhaust memory.
void fillList(IniReader& getIni, std::vector<std::string>& list, const char* section,
              const char* countKey, const char* hostKey, const char* portKey,
              const char* defaultPort) {
  list.clear();
  int32_t count = iniInt32(getIni.readNumber(section, countKey, "0"));
  if (count > kMaxRedisEntries) count = kMaxRedisEntries;
  for (int32_t i = 0; i < count; ++i) {
    // The port is read first: the host lookup may reuse the reader's result buffer.
    const int32_t port =
        iniInt32(getIni.readNumber(section, iniIndexedKey(portKey, i).c_str(), defaultPort));
    std::string info = getIni.readString(section, iniIndexedKey(hostKey, i).c_str(), "127.0.0.1");
    info += ':';
    info += std::to_string(port);  // "%s:%d"
    list.push_back(std::move(info));
  }
}

}  // namespace

int RedisSettings::loadSettings() {
  IniReader getIni(kRedisFile);
  mode = iniInt32(getIni.readNumber(ini::kConnectionModeSection, ini::kMode, "1"));
  timeoutSec = iniInt32(getIni.readNumber(ini::kFormatSection, ini::kOvertimeSec, "0"));
  timeoutUsec = iniInt32(getIni.readNumber(ini::kFormatSection, ini::kOvertimeUsec, "0"));
  if (mode == kRedisModeMaster || mode == kRedisModeMasterSlave) {
    fillList(getIni, masterAddrs, ini::kConnectionMasterSection, ini::kMasterNum, ini::kMasterIp,
             ini::kMasterPort, "6379");
  }
  if (mode == kRedisModeMasterSlave) {
    fillList(getIni, slaveAddrs, ini::kConnectionSlaveSection, ini::kSlaveNum, ini::kSlaveIp,
             ini::kSlavePort, "6379");
  }
  if (mode == kRedisModeSentinel) {
    fillList(getIni, sentinelAddrs, ini::kSentinelSection, ini::kSentinelNum, ini::kSentinelIp,
             ini::kSentinelPort, "26379");
  }
  return 1;
}
