#include "operator/check_redis_file.h"

#include <string>
#include <vector>

#include "config/ini_keys.h"
#include "config/ini_reader.h"

namespace {

struct AddressList {
  const char* section;
  const char* countKey;
  const char* hostKey;
  const char* portKey;
  const char* defaultPort;
  const char* label;  // row label, "master", "slave", "Sentinel"
};

void checkAddressList(CheckReport& report, IniReader& reader, const AddressList& list,
                      const std::vector<std::string>& addrs) {
  const std::string countText = reader.readString(list.section, list.countKey, kCheckAbsent);
  report.numberText(kRedisFile, list.countKey, countText, false);
  const int32_t count = iniInt32(reader.readNumber(list.section, list.countKey, "0"));
  if (count > kMaxRedisEntries) {
    report.warning(std::string(kRedisFile) + ": " + list.countKey + "=" + countText +
                   " is above " + std::to_string(kMaxRedisEntries) +
                   "; only that many entries are read");
  }
  for (std::size_t i = 0; i < addrs.size(); ++i) {
    const std::string hostKey = iniIndexedKey(list.hostKey, static_cast<long>(i));
    const std::string portKey = iniIndexedKey(list.portKey, static_cast<long>(i));
    const std::string host = reader.readString(list.section, hostKey.c_str(), kCheckAbsent);
    const std::string port = reader.readString(list.section, portKey.c_str(), kCheckAbsent);
    if (host == kCheckAbsent && port == kCheckAbsent) {
      report.warning(std::string(kRedisFile) + ": " + list.countKey + " is " +
                     std::to_string(count) + " but " + hostKey + " and " + portKey +
                     " are not written; entry " + std::to_string(i) + " reads as 127.0.0.1:" +
                     list.defaultPort + ". Write the entry or lower the count");
    }
    report.numberText(kRedisFile, portKey, port, true);
    report.row(std::string(list.label) + " " + std::to_string(i), addrs[i]);
  }
}

const char* modeText(int32_t mode) {
  switch (mode) {
    case kRedisModeMaster: return "masters only";
    case kRedisModeMasterSlave: return "masters and slaves";
    case kRedisModeSentinel: return "through Sentinels";
    default: break;
  }
  return "unknown";
}

void showTimeout(CheckReport& report, IniReader& reader, int32_t sec, int32_t usec) {
  if ((sec == 0 && usec == 0) || sec < 0 || usec < 0) {
    report.row("time-out", "none (a call waits as long as Redis takes)");
  } else {
    const int64_t ms = static_cast<int64_t>(sec) * 1000 + usec / 1000;
    report.row("time-out", std::to_string(sec) + " s " + std::to_string(usec) + " us (" +
                               std::to_string(ms) + " ms on the sockets)");
    if (ms <= 0) {
      report.warning(std::string(kRedisFile) + ": " + ini::kOvertimeUsec + "=" +
                     std::to_string(usec) +
                     " is below 1 ms and sets no limit; write at least 1000");
    }
  }
  for (const char* key : {ini::kOvertimeSec, ini::kOvertimeUsec}) {
    report.numberText(kRedisFile, key, reader.readString(ini::kFormatSection, key, kCheckAbsent),
                      false);
  }
}

}  // namespace

void checkRedisFile(CheckReport& report, bool present, RedisSettings* settings) {
  using namespace ini;
  report.heading("Redis (rdsset.ini)");
  if (!present) {
    report.row("file", "absent");
    report.error(std::string(kRedisFile) +
                 ": the file is missing; without it mode 1 has no master. Create cfg/rdsset.ini");
    return;
  }
  settings->loadSettings();
  IniReader reader(kRedisFile);
  report.numberText(kRedisFile, kMode,
                    reader.readString(kConnectionModeSection, kMode, kCheckAbsent), false);
  report.row("mode", std::to_string(settings->mode) + " (" + modeText(settings->mode) + ")");
  showTimeout(report, reader, settings->timeoutSec, settings->timeoutUsec);

  const int32_t mode = settings->mode;
  if (mode == kRedisModeMaster || mode == kRedisModeMasterSlave) {
    checkAddressList(
        report, reader,
        {kConnectionMasterSection, kMasterNum, kMasterIp, kMasterPort, "6379", "master"},
        settings->masterAddrs);
    if (settings->masterAddrs.empty()) {
      report.error(std::string(kRedisFile) + ": mode " + std::to_string(mode) +
                   " needs a master and [" + kConnectionMasterSection + "] lists none; set " +
                   kMasterNum + "=1, " + kMasterIp + "0= and " + kMasterPort + "0=");
    }
  }
  if (mode == kRedisModeMasterSlave) {
    checkAddressList(report, reader,
                     {kConnectionSlaveSection, kSlaveNum, kSlaveIp, kSlavePort, "6379", "slave"},
                     settings->slaveAddrs);
  }
  if (mode == kRedisModeSentinel) {
    checkAddressList(
        report, reader,
        {kSentinelSection, kSentinelNum, kSentinelIp, kSentinelPort, "26379", "Sentinel"},
        settings->sentinelAddrs);
    if (settings->sentinelAddrs.empty()) {
      report.error(std::string(kRedisFile) + ": mode 3 needs a Sentinel and [" +
                   kSentinelSection + "] lists none; set " + kSentinelNum + "=1, " + kSentinelIp +
                   "0= and " + kSentinelPort + "0=");
    }
  }
  if (mode != kRedisModeMaster && mode != kRedisModeMasterSlave && mode != kRedisModeSentinel) {
    report.error(std::string(kRedisFile) + ": [" + kConnectionModeSection + "] " + kMode + "=" +
                 std::to_string(mode) + " is not 1, 2 or 3, so no Redis address is used; write " +
                 kMode + "=1, 2 or 3");
  }
}
