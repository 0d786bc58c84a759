#include "operator/check_sync_file.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <vector>

#include "config/ini_keys.h"
#include "config/ini_reader.h"
#include "config/sync_config.h"
#include "operator/gbk_display.h"
#include "operator/url_display.h"

namespace {

struct Dictionary {
  const char* section;
  const char* countKey;
  const char* codeKey;
  std::vector<const char*> textKeys;  // every text key of an entry, the code's included
  bool numericCode;                   // the code is read as a number (appsysid)
  const char* label;
};

// Warns about the texts of entry `i` cut to kMaxDictText; false when the entry has
// no key written at all.
bool checkEntryTexts(CheckReport& report, IniReader& reader, const Dictionary& d, int32_t i) {
  bool any = false;
  for (const char* key : d.textKeys) {
    const std::string name = iniIndexedKey(key, i);
    const std::string text = reader.readString(d.section, name.c_str(), kCheckAbsent);
    if (text == kCheckAbsent) continue;
    any = true;
    if (text.size() > kMaxDictText) {
      report.warning(std::string(kSyncFile) + ": " + name + " is " + std::to_string(text.size()) +
                     " bytes; only the first " + std::to_string(kMaxDictText) +
                     " are kept. Shorten it");
    }
  }
  return any;
}

void checkDictionary(CheckReport& report, IniReader& reader, GbkDisplay& gbk, const Dictionary& d,
                     std::size_t size) {
  const std::string countText = reader.readString(d.section, d.countKey, kCheckAbsent);
  report.numberText(kSyncFile, d.countKey, countText, false);
  const int32_t written = iniInt32(reader.readNumber(d.section, d.countKey, "0"));
  const int32_t count = written > kMaxDictEntries ? kMaxDictEntries : written;
  if (written > kMaxDictEntries) {
    report.warning(std::string(kSyncFile) + ": " + d.countKey + "=" + countText + " is above " +
                   std::to_string(kMaxDictEntries) + "; only that many entries are read");
  }
  report.row(d.label, std::to_string(size) + " (" + d.countKey + "=" +
                          std::to_string(written < 0 ? 0 : written) + ")");
  std::map<std::string, int32_t> firstIndex;  // code -> entry that had it first
  std::vector<int32_t> unwritten;
  for (int32_t i = 0; i < count; ++i) {
    if (!checkEntryTexts(report, reader, d, i)) {
      unwritten.push_back(i);
      continue;
    }
    const std::string codeKey = iniIndexedKey(d.codeKey, i);
    std::string code = reader.readString(d.section, codeKey.c_str(), kCheckAbsent);
    if (code == kCheckAbsent || code.empty()) {
      report.warning(std::string(kSyncFile) + ": entry " + std::to_string(i) + " of [" +
                     d.section + "] has an empty " + codeKey +
                     (d.numericCode ? ", which reads as 0" : " and can never match") +
                     "; write its code");
      if (code == kCheckAbsent) code.clear();
    }
    if (d.numericCode) {
      report.numberText(kSyncFile, codeKey, code, false);
      code = std::to_string(iniInt32(std::strtoull(code.c_str(), nullptr, 0)));
    } else if (code.size() > kMaxDictText) {
      code.resize(kMaxDictText);
    }
    const auto seen = firstIndex.find(code);
    if (seen != firstIndex.end()) {
      report.warning(std::string(kSyncFile) + ": " + codeKey + " repeats code " +
                     gbk.quoted(code) + " of entry " + std::to_string(seen->second) +
                     "; the later entry " + std::to_string(i) +
                     " wins. Remove one or give it its own code");
    } else {
      firstIndex[code] = i;
    }
  }
  if (!unwritten.empty()) {
    report.warning(std::string(kSyncFile) + ": " + d.countKey + " is " + std::to_string(written) +
                   " but " + std::to_string(unwritten.size()) + " entr" +
                   (unwritten.size() == 1 ? "y is" : "ies are") + " not written (first: " +
                   std::to_string(unwritten.front()) +
                   "); they read as empty. Lower the count or write them");
  }
}

// The scheme of `url` as the delivery takes it; "" for one it does not support.
std::string showScheme(CheckReport& report, GbkDisplay& gbk, const std::string& url) {
  const std::size_t sep = url.find("://");
  if (sep == std::string::npos) {
    report.row("scheme", "http (none written)");
    return "http";
  }
  std::string s = url.substr(0, sep);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (s == "http" || s == "https") {
    report.row("scheme", s);
    return s;
  }
  report.row("scheme", gbk.show(s) + " (unsupported)");
  report.error(std::string(kSyncFile) + ": the url's scheme " + gbk.quoted(s) +
               " is not supported; only http and https are");
  return "";
}

}  // namespace

std::string checkSyncFile(CheckReport& report, bool present, std::string* scheme) {
  using namespace ini;
  report.heading("Delivery and dictionaries (logsynset.ini)");
  if (!present) {
    report.row("file", "absent");
    report.error(std::string(kSyncFile) +
                 ": the file is missing, so the URL is empty and nothing can be posted. "
                 "Create cfg/logsynset.ini with [" + kUrlSection + "] " + kUrl + "=");
    return "";
  }
  SyncConfig config;
  IniReader reader(kSyncFile);
  GbkDisplay gbk;
  const std::string written = reader.readString(kUrlSection, kUrl, "");
  const std::string url = config.url;
  report.row("url", url.empty() ? "(empty)" : gbk.show(urlWithoutCredentials(url)));
  if (written.size() > kMaxUrl) {
    report.warning(std::string(kSyncFile) + ": " + kUrl + " is " + std::to_string(written.size()) +
                   " characters; only the first " + std::to_string(kMaxUrl) +
                   " are used. Shorten it");
  }
  std::string usable;
  if (url.empty()) {
    report.error(std::string(kSyncFile) + ": [" + kUrlSection + "] " + kUrl +
                 " is empty, so nothing can be posted; write the receiver's "
                 "URL, e.g. url=http://host:port/path");
  } else {
    const std::string s = showScheme(report, gbk, url);
    if (!s.empty()) {
      *scheme = s;
      usable = url;
    }
  }
  report.numberText(kSyncFile, kLogFlag, reader.readString(kLogFlagSection, kLogFlag, kCheckAbsent),
                    false);
  report.row("run log", config.logFlag != 0 ? "on" : "off");
  checkDictionary(report, reader, gbk,
                  {kAppSysSection, kAppSysNum, kAppSysId, {kAppSysId, kAppSysDesc}, true,
                   "application systems"},
                  config.appSystems.size());
  checkDictionary(report, reader, gbk,
                  {kStationSection, kStationNum, kStationCode,
                   {kStationLineId, kStationLineDesc, kStationId, kStationDesc, kStationCode},
                   false, "stations"},
                  config.stations.size());
  checkDictionary(report, reader, gbk,
                  {kEventTypeSection, kEventTypeNum, kEventTypeCode,
                   {kEventTypeId, kEventTypeDesc, kEventTypeCode}, false, "event types"},
                  config.eventTypes.size());
  return usable;
}
