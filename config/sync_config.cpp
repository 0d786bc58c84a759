#include "config/sync_config.h"

#include <cstring>

#include "config/ini_keys.h"
#include "config/ini_reader.h"

namespace {

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

// Entry `index` of the indexed key `prefix` in `section`, as a dictionary text.
std::string entryText(IniReader& getIni, const char* section, const char* prefix,
                      int32_t index) {
  return dictText(getIni.readString(section, iniIndexedKey(prefix, index).c_str(), ""));
}

}  // namespace


SyncConfig::SyncConfig() : logFlag(0) {
  std::memset(url, 0, sizeof(url));
  load();
}

int SyncConfig::load() {
  using namespace ini;
  IniReader getIni(kSyncFile);

  std::memset(url, 0, sizeof(url));
  std::strncpy(url, getIni.readString(kUrlSection, kUrl, ""), kMaxUrl);

  logFlag = iniInt32(getIni.readNumber(kLogFlagSection, kLogFlag, "0"));

  const int32_t appCount = entryCount(getIni, kAppSysSection, kAppSysNum);
  for (int32_t i = 0; i < appCount; ++i) {
    const int32_t id = iniInt32(
        getIni.readNumber(kAppSysSection, iniIndexedKey(kAppSysId, i).c_str(), "0"));
    appSystems[id] = entryText(getIni, kAppSysSection, kAppSysDesc, i);
  }

  const int32_t stationCount = entryCount(getIni, kStationSection, kStationNum);
  for (int32_t j = 0; j < stationCount; ++j) {
    STATIONLOGINFO info;
    info.lineId = entryText(getIni, kStationSection, kStationLineId, j);
    info.lineDesc = entryText(getIni, kStationSection, kStationLineDesc, j);
    info.stationId = entryText(getIni, kStationSection, kStationId, j);
    info.stationDesc = entryText(getIni, kStationSection, kStationDesc, j);
    stations[entryText(getIni, kStationSection, kStationCode, j)] = info;
  }

  const int32_t eventCount = entryCount(getIni, kEventTypeSection, kEventTypeNum);
  for (int32_t k = 0; k < eventCount; ++k) {
    EVENTTYPEINFO info;
    info.eventTypeId = entryText(getIni, kEventTypeSection, kEventTypeId, k);
    info.eventTypeDesc = entryText(getIni, kEventTypeSection, kEventTypeDesc, k);
    eventTypes[entryText(getIni, kEventTypeSection, kEventTypeCode, k)] = info;
  }
  return 1;
}
