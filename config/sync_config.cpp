#include "config/sync_config.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "config/ini_reader.h"

namespace {

constexpr const char* kSyncFile = "logsynset.ini";

// A dictionary text as stored: at most kMaxDictText characters.
std::string dictText(const char* text) {
  std::size_t n = std::strlen(text);
  return std::string(text, n > kMaxDictText ? kMaxDictText : n);
}

// A dictionary's count key, bounded by kMaxDictEntries.
int32_t entryCount(IniReader& getIni, const char* section, const char* countKey) {
  const int32_t count = iniInt32(getIni.readNumber(section, countKey, "0"));
  return count > kMaxDictEntries ? kMaxDictEntries : count;
}

std::string keyName(const char* prefix, int32_t index) {
  char name[128];
  std::snprintf(name, sizeof(name), "%s%d", prefix, static_cast<int>(index));
  return name;
}

}  // namespace


SyncConfig::SyncConfig() : logFlag(0) {
  std::memset(url, 0, sizeof(url));
  load();
}

int SyncConfig::load() {
  IniReader getIni(kSyncFile);

  std::memset(url, 0, sizeof(url));
  std::strncpy(url, getIni.readString("tovraurl", "url", ""), kMaxUrl);

  logFlag = iniInt32(getIni.readNumber("synLogFlag", "Flag", "0"));

  const int32_t appCount = entryCount(getIni, "appSysId", "appsysidnum");
  for (int32_t i = 0; i < appCount; ++i) {
    int32_t id = iniInt32(getIni.readNumber("appSysId", keyName("appsysid", i).c_str(), "0"));
    appSystems[id] = dictText(getIni.readString("appSysId", keyName("appsysiddesc", i).c_str(), ""));
  }

  const int32_t stationCount = entryCount(getIni, "stationInfo", "stationnum");
  for (int32_t j = 0; j < stationCount; ++j) {
    STATIONLOGINFO info;
    info.lineId = dictText(getIni.readString("stationInfo", keyName("stationlindid", j).c_str(), ""));
    info.lineDesc = dictText(getIni.readString("stationInfo", keyName("stationlinddesc", j).c_str(), ""));
    info.stationId = dictText(getIni.readString("stationInfo", keyName("stationid", j).c_str(), ""));
    info.stationDesc = dictText(getIni.readString("stationInfo", keyName("stationdesc", j).c_str(), ""));
    std::string code = dictText(getIni.readString("stationInfo", keyName("stationcode", j).c_str(), ""));
    stations[code] = info;
  }

  const int32_t eventCount = entryCount(getIni, "evevtType", "eventtypenum");
  for (int32_t k = 0; k < eventCount; ++k) {
    EVENTTYPEINFO info;
    info.eventTypeId = dictText(getIni.readString("evevtType", keyName("eventtypeid", k).c_str(), ""));
    info.eventTypeDesc = dictText(getIni.readString("evevtType", keyName("eventtypedesc", k).c_str(), ""));
    std::string code = dictText(getIni.readString("evevtType", keyName("eventtypecode", k).c_str(), ""));
    eventTypes[code] = info;
  }
  return 1;
}
