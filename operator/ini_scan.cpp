#include "operator/ini_scan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/ini_syntax.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string lowered(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The index written after `prefix` in `name` as "%d" would write it; -1 if not so.
long indexAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return -1;
  for (const char c : digits) {
    if (c < '0' || c > '9') return -1;
  }
  return std::atol(digits.c_str());
}

const std::vector<KnownIniKey> kRedisKeys = {
    {"ConnectionMode", "Mode", false, ""},
    {"Format", "OvertimeSec", false, ""},
    {"Format", "OvertimeUsec", false, ""},
    {"ConnectionMaster", "MasterNum", false, ""},
    {"ConnectionMaster", "MasterIp", true, "MasterNum"},
    {"ConnectionMaster", "MasterPort", true, "MasterNum"},
    {"ConnectionSlave", "SlaveNum", false, ""},
    {"ConnectionSlave", "SlaveIp", true, "SlaveNum"},
    {"ConnectionSlave", "SlavePort", true, "SlaveNum"},
    {"Sentinel", "SentinelNum", false, ""},
    {"Sentinel", "SentinelIp", true, "SentinelNum"},
    {"Sentinel", "SentinelPort", true, "SentinelNum"},
};

const std::vector<KnownIniKey> kSyncKeys = {
    {"tovraurl", "url", false, ""},
    {"synLogFlag", "Flag", false, ""},
    {"appSysId", "appsysidnum", false, ""},
    {"appSysId", "appsysiddesc", true, "appsysidnum"},
    {"appSysId", "appsysid", true, "appsysidnum"},
    {"stationInfo", "stationnum", false, ""},
    {"stationInfo", "stationlindid", true, "stationnum"},
    {"stationInfo", "stationlinddesc", true, "stationnum"},
    {"stationInfo", "stationid", true, "stationnum"},
    {"stationInfo", "stationdesc", true, "stationnum"},
    {"stationInfo", "stationcode", true, "stationnum"},
    {"evevtType", "eventtypenum", false, ""},
    {"evevtType", "eventtypeid", true, "eventtypenum"},
    {"evevtType", "eventtypedesc", true, "eventtypenum"},
    {"evevtType", "eventtypecode", true, "eventtypenum"},
};

const std::vector<KnownIniKey> kOptionKeys = {
    {"RedisAuth", "RedisUser", false, ""},
    {"RedisAuth", "RedisPassword", false, ""},
    {"RedisAuth", "SentinelUser", false, ""},
    {"RedisAuth", "SentinelPassword", false, ""},
    {"Http", "CaFile", false, ""},
    {"Http", "ClientCertFile", false, ""},
    {"Http", "ClientKeyFile", false, ""},
    {"Http", "HeaderNum", false, ""},
    {"Http", "Header", true, "HeaderNum"},
    {"Http", "KeepAlive", false, ""},
    {"Durable", "Durable", false, ""},
    {"Durable", "StreamMaxLen", false, ""},
    {"Durable", "RetryMaxSeconds", false, ""},
    {"Durable", "DeadLetterMaxLen", false, ""},
    {"Status", "StatusListen", false, ""},
    {"Service", "StopHandoverSeconds", false, ""},
};

}  // namespace

std::vector<IniKeyLine> scanIniKeys(const std::string& path, IniLimits limits) {
  std::vector<IniKeyLine> keys;
  FilePtr f(path.empty() ? nullptr : std::fopen(path.c_str(), "rb"));
  if (f == nullptr) return keys;
  std::string section;
  std::vector<char> buf(kIniScanMaxLine + 1);
  char* line = buf.data();
  std::size_t len = 0;
  std::size_t fullLen = 0;
  bool atEof = false;
  int number = 0;
  while (iniReadLine(f.get(), line, kIniScanMaxLine, &len, &atEof, &fullLen)) {
    ++number;
    if (!iniCommentLine(line, len)) {
      const char* eq = static_cast<const char*>(std::memchr(line, '=', len));
      if (eq == nullptr) {
        if (len > 0 && line[0] == '[') {
          const char* close = static_cast<const char*>(std::memchr(line, ']', len));
          const char* end = close != nullptr ? close : line + len;
          section.assign(line + 1, static_cast<std::size_t>(end - (line + 1)));
        }
      } else {
        std::string name = iniTrimBlanks(line, eq);
        if (!name.empty()) {
          // Beyond what the scan holds, every byte counts as part of the value.
          const std::size_t value =
              iniTrimBlanks(eq + 1, line + len).size() + (fullLen - len);
          // The reader's view: the line cut to its limit, the value to its own.
          const std::size_t readerLen = len < limits.maxLine ? len : limits.maxLine;
          const char* readerEq = static_cast<const char*>(std::memchr(line, '=', readerLen));
          std::size_t kept = 0;
          if (readerEq != nullptr) {
            kept = iniTrimBlanks(readerEq + 1, line + readerLen).size();
            if (kept > limits.maxValue) kept = limits.maxValue;
          }
          keys.push_back({number, section, std::move(name), fullLen, value, kept});
        }
      }
    }
    if (atEof) break;
  }
  return keys;
}

const std::vector<KnownIniKey>* knownIniKeys(const std::string& fileName) {
  if (fileName == "rdsset.ini") return &kRedisKeys;
  if (fileName == "logsynset.ini") return &kSyncKeys;
  if (fileName == "tarvex.ini") return &kOptionKeys;
  return nullptr;
}

bool matchKnownKey(const std::vector<KnownIniKey>& keys, const std::string& name,
                   const KnownIniKey** match, long* index) {
  for (const KnownIniKey& key : keys) {
    const long i = key.indexed ? indexAfter(name, key.name) : -1;
    if ((!key.indexed && name == key.name) || i >= 0) {
      *match = &key;
      *index = i;
      return true;
    }
  }
  return false;
}

std::string suggestKnownKey(const std::vector<KnownIniKey>& keys, const std::string& name) {
  const std::string low = lowered(name);
  for (const KnownIniKey& key : keys) {
    const std::string known = lowered(key.name);
    if (!key.indexed && low == known) return key.name;
    if (key.indexed) {
      const long i = indexAfter(low, known);
      if (i >= 0) return std::string(key.name) + std::to_string(i);
    }
  }
  return "";
}
