#include "config/ini_keys.h"

#include <cstdlib>

namespace {

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

using namespace ini;

const std::vector<KnownIniKey> kRedisKeys = {
    {kConnectionModeSection, kMode, false, ""},
    {kFormatSection, kOvertimeSec, false, ""},
    {kFormatSection, kOvertimeUsec, false, ""},
    {kConnectionMasterSection, kMasterNum, false, ""},
    {kConnectionMasterSection, kMasterIp, true, kMasterNum},
    {kConnectionMasterSection, kMasterPort, true, kMasterNum},
    {kConnectionSlaveSection, kSlaveNum, false, ""},
    {kConnectionSlaveSection, kSlaveIp, true, kSlaveNum},
    {kConnectionSlaveSection, kSlavePort, true, kSlaveNum},
    {kSentinelSection, kSentinelNum, false, ""},
    {kSentinelSection, kSentinelIp, true, kSentinelNum},
    {kSentinelSection, kSentinelPort, true, kSentinelNum},
};

const std::vector<KnownIniKey> kSyncKeys = {
    {kUrlSection, kUrl, false, ""},
    {kLogFlagSection, kLogFlag, false, ""},
    {kAppSysSection, kAppSysNum, false, ""},
    {kAppSysSection, kAppSysDesc, true, kAppSysNum},
    {kAppSysSection, kAppSysId, true, kAppSysNum},
    {kStationSection, kStationNum, false, ""},
    {kStationSection, kStationLineId, true, kStationNum},
    {kStationSection, kStationLineDesc, true, kStationNum},
    {kStationSection, kStationId, true, kStationNum},
    {kStationSection, kStationDesc, true, kStationNum},
    {kStationSection, kStationCode, true, kStationNum},
    {kEventTypeSection, kEventTypeNum, false, ""},
    {kEventTypeSection, kEventTypeId, true, kEventTypeNum},
    {kEventTypeSection, kEventTypeDesc, true, kEventTypeNum},
    {kEventTypeSection, kEventTypeCode, true, kEventTypeNum},
};

const std::vector<KnownIniKey> kOptionKeys = {
    {kRedisAuthSection, kRedisUser, false, ""},
    {kRedisAuthSection, kRedisPassword, false, ""},
    {kRedisAuthSection, kSentinelUser, false, ""},
    {kRedisAuthSection, kSentinelPassword, false, ""},
    {kHttpSection, kCaFile, false, ""},
    {kHttpSection, kClientCertFile, false, ""},
    {kHttpSection, kClientKeyFile, false, ""},
    {kHttpSection, kHeaderNum, false, ""},
    {kHttpSection, kHeader, true, kHeaderNum},
    {kHttpSection, kKeepAlive, false, ""},
    {kDurableSection, kDurable, false, ""},
    {kDurableSection, kStreamMaxLen, false, ""},
    {kDurableSection, kRetryMaxSeconds, false, ""},
    {kDurableSection, kDeadLetterMaxLen, false, ""},
    {kStatusSection, kStatusListen, false, ""},
    {kServiceSection, kStopHandoverSeconds, false, ""},
};

}  // namespace

std::string iniIndexedKey(const char* prefix, long index) {
  return prefix + std::to_string(index);
}

const std::vector<KnownIniKey>* knownIniKeys(const std::string& fileName) {
  if (fileName == kRedisFile) return &kRedisKeys;
  if (fileName == kSyncFile) return &kSyncKeys;
  if (fileName == kOptionsFile) return &kOptionKeys;
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
