#include "config/tarvex_options.h"

#include <unistd.h>

#include <cstdio>

#include "config/config_path.h"
#include "config/ini_keys.h"
#include "config/ini_reader.h"
#include "config/timing.h"

bool headerLineAcceptable(const std::string& line) {
  return line.find_first_of("\r\n") == std::string::npos;
}

bool TarvexOptions::load() {
  *this = TarvexOptions();
  // Looked for once, so that an absent file makes the reader print nothing.
  const std::string path = configPath(kOptionsFile);
  if (path.empty() || ::access(path.c_str(), F_OK) != 0) return false;
  present = true;
  if (!configFileReadable(path, &whyUnreadable)) {
    unreadable = true;
    return true;
  }

  using namespace ini;
  IniReader getIni(kOptionsFile, kOptionsIniLimits);
  redisUser = getIni.readString(kRedisAuthSection, kRedisUser, "");
  redisPassword = getIni.readString(kRedisAuthSection, kRedisPassword, "");
  sentinelUser = getIni.readString(kRedisAuthSection, kSentinelUser, "");
  sentinelPassword = getIni.readString(kRedisAuthSection, kSentinelPassword, "");

  caFile = getIni.readString(kHttpSection, kCaFile, "");
  clientCertFile = getIni.readString(kHttpSection, kClientCertFile, "");
  clientKeyFile = getIni.readString(kHttpSection, kClientKeyFile, "");
  int32_t headerNum = iniInt32(getIni.readNumber(kHttpSection, kHeaderNum, "0"));
  if (headerNum > kMaxExtraHeaders) headerNum = kMaxExtraHeaders;
  for (int32_t i = 0; i < headerNum; ++i) {
    const std::string key = iniIndexedKey(kHeader, i);
    std::string line = getIni.readString(kHttpSection, key.c_str(), "");
    if (line.empty()) continue;
    // The reader ends a value at LF, so only a CR can arrive here; the check stays
    // whole in case the reader changes.
    if (!headerLineAcceptable(line)) {
      std::fprintf(stderr, "tarvex.ini: %s holds a CR or LF; it is not sent\n", key.c_str());
      continue;
    }
    extraHeaders.push_back(std::move(line));
  }
  keepAlive = iniInt32(getIni.readNumber(kHttpSection, kKeepAlive, "0"));

  durable = iniInt32(getIni.readNumber(kDurableSection, kDurable, "0"));
  streamMaxLen = static_cast<int64_t>(getIni.readNumber(kDurableSection, kStreamMaxLen, "1000000"));
  retryMaxSeconds = iniInt32(getIni.readNumber(kDurableSection, kRetryMaxSeconds, "60"));
  deadLetterMaxLen =
      static_cast<int64_t>(getIni.readNumber(kDurableSection, kDeadLetterMaxLen, "100000"));
  if (streamMaxLen <= 0) streamMaxLen = 1000000;
  if (retryMaxSeconds <= 0) retryMaxSeconds = 60;
  if (deadLetterMaxLen <= 0) deadLetterMaxLen = 100000;

  statusListen = getIni.readString(kStatusSection, kStatusListen, "");

  stopHandoverSeconds = iniInt32(getIni.readNumber(
      kServiceSection, kStopHandoverSeconds, std::to_string(kDefaultStopHandoverSeconds).c_str()));
  if (stopHandoverSeconds < 0) stopHandoverSeconds = kDefaultStopHandoverSeconds;
  return true;
}

TarvexOptions loadedTarvexOptions() {
  TarvexOptions options;
  options.load();
  return options;
}
