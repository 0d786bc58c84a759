#include "operator/check_command.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config/config_path.h"
#include "config/ini_reader.h"
#include "config/redis_settings.h"
#include "config/sync_config.h"
#include "config/tarvex_options.h"
#include "config/timing.h"
#include "redis/server_version.h"
#include "operator/gbk_display.h"
#include "operator/ini_scan.h"
#include "operator/reach_probe.h"
#include "status/status_endpoint.h"
#include "operator/url_display.h"

namespace {

constexpr int kLabelWidth = 24;
// Default of the lookups that must tell a missing key from an empty one.
constexpr const char* kAbsent = "\x01(absent)\x01";
constexpr const char* kRedisFile = "rdsset.ini";
constexpr const char* kSyncFile = "logsynset.ini";

std::string keyName(const std::string& prefix, long index) {
  return prefix + std::to_string(index);
}

// Collects what the check found and prints it in aligned columns.
class CheckReport {
 public:
  explicit CheckReport(std::FILE* out) : out_(out) {}

  void heading(const std::string& title) { std::fprintf(out_, "\n%s\n", title.c_str()); }
  void row(const std::string& label, const std::string& value) {
    std::fprintf(out_, "  %-*s %s\n", kLabelWidth, label.c_str(), value.c_str());
  }
  void error(const std::string& text) { problems_.push_back("error  " + text); ++errors_; }
  void warning(const std::string& text) { problems_.push_back("warn   " + text); ++warnings_; }
  void tried(const std::string& label, const ProbeResult& r) {
    row(label, (r.ok ? "ok      " : "FAILED  ") + r.detail);
    if (!r.ok) ++failedTries_;
  }

  int finish() {
    heading("Problems");
    if (problems_.empty()) std::fprintf(out_, "  none\n");
    for (const std::string& p : problems_) std::fprintf(out_, "  %s\n", p.c_str());
    const bool good = errors_ == 0 && failedTries_ == 0;
    std::fprintf(out_, "\nResult: %d error(s), %d warning(s), %d failed tr%s: %s\n", errors_,
                 warnings_, failedTries_, failedTries_ == 1 ? "y" : "ies",
                 good ? "the settings can work and everything answers"
                      : "the service cannot work like this");
    return good ? 0 : 1;
  }

 private:
  std::FILE* out_;
  std::vector<std::string> problems_;
  int errors_ = 0;
  int warnings_ = 0;
  int failedTries_ = 0;
};

bool fileExists(const std::string& path) { return !path.empty() && ::access(path.c_str(), F_OK) == 0; }

// How much of a line and a value the service's reader of `fileName` keeps.
IniLimits limitsOf(const std::string& fileName) {
  return fileName == kOptionsFile ? kOptionsIniLimits : kIniClassicLimits;
}

// A number written with a leading 0 (octal to the reader) or a port out of range.
void checkNumberText(CheckReport& report, const char* file, const std::string& key,
                     const std::string& text, bool port) {
  if (text == kAbsent || text.empty()) return;
  const uint64_t value = std::strtoull(text.c_str(), nullptr, 0);
  if (text.size() > 1 && text[0] == '0' && text[1] != 'x' && text[1] != 'X') {
    const std::size_t digits = text.find_first_not_of('0');
    const std::string meant = digits == std::string::npos ? "0" : text.substr(digits);
    const std::string line = std::string(file) + ": " + key + "=" + text +
                             " reads as octal, giving " + std::to_string(value) +
                             "; write " + meant + " without the leading 0";
    if (port) {
      report.error(line);
    } else {
      report.warning(line);
    }
  } else if (port && (value == 0 || value > 65535)) {
    report.error(std::string(file) + ": " + key + "=" + text + " is not a port 1..65535");
  }
}

// ---- rdsset.ini ------------------------------------------------------------------

struct AddressList {
  const char* section;
  const char* countKey;
  const char* hostKey;
  const char* portKey;
  const char* defaultPort;
  const char* label;  // row label, "master", "slave", "Sentinel"
};

void checkAddressList(CheckReport& report, IniReader& ini, const AddressList& list,
                      const std::vector<std::string>& addrs) {
  const std::string countText = ini.readString(list.section, list.countKey, kAbsent);
  checkNumberText(report, kRedisFile, list.countKey, countText, false);
  const int32_t count = iniInt32(ini.readNumber(list.section, list.countKey, "0"));
  if (count > kMaxRedisEntries) {
    report.warning(std::string(kRedisFile) + ": " + list.countKey + "=" + countText +
                   " is above " + std::to_string(kMaxRedisEntries) +
                   "; only that many entries are read");
  }
  for (std::size_t i = 0; i < addrs.size(); ++i) {
    const std::string host = ini.readString(list.section, keyName(list.hostKey, i).c_str(), kAbsent);
    const std::string port = ini.readString(list.section, keyName(list.portKey, i).c_str(), kAbsent);
    if (host == kAbsent && port == kAbsent) {
      report.warning(std::string(kRedisFile) + ": " + list.countKey + " is " +
                     std::to_string(count) + " but " + keyName(list.hostKey, i) + " and " +
                     keyName(list.portKey, i) + " are not written; entry " + std::to_string(i) +
                     " reads as 127.0.0.1:" + list.defaultPort +
                     ". Write the entry or lower the count");
    }
    checkNumberText(report, kRedisFile, keyName(list.portKey, i), port, true);
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

void checkRedisSettings(CheckReport& report, bool present, RedisSettings* settings) {
  report.heading("Redis (rdsset.ini)");
  if (!present) {
    report.row("file", "absent");
    report.error(std::string(kRedisFile) +
                 ": the file is missing; without it mode 1 has no master. Create cfg/rdsset.ini");
    return;
  }
  settings->loadSettings();
  IniReader ini(kRedisFile);
  checkNumberText(report, kRedisFile, "Mode", ini.readString("ConnectionMode", "Mode", kAbsent), false);
  report.row("mode", std::to_string(settings->mode) + " (" + modeText(settings->mode) + ")");
  const int32_t sec = settings->timeoutSec;
  const int32_t usec = settings->timeoutUsec;
  if ((sec == 0 && usec == 0) || sec < 0 || usec < 0) {
    report.row("time-out", "none (a call waits as long as Redis takes)");
  } else {
    const int64_t ms = static_cast<int64_t>(sec) * 1000 + usec / 1000;
    report.row("time-out", std::to_string(sec) + " s " + std::to_string(usec) + " us (" +
                               std::to_string(ms) + " ms on the sockets)");
    if (ms <= 0) {
      report.warning(std::string(kRedisFile) + ": OvertimeUsec=" + std::to_string(usec) +
                     " is below 1 ms and sets no limit; write at least 1000");
    }
  }
  checkNumberText(report, kRedisFile, "OvertimeSec", ini.readString("Format", "OvertimeSec", kAbsent), false);
  checkNumberText(report, kRedisFile, "OvertimeUsec", ini.readString("Format", "OvertimeUsec", kAbsent), false);

  const int32_t mode = settings->mode;
  if (mode == kRedisModeMaster || mode == kRedisModeMasterSlave) {
    checkAddressList(report, ini,
                     {"ConnectionMaster", "MasterNum", "MasterIp", "MasterPort", "6379", "master"},
                     settings->masterAddrs);
    if (settings->masterAddrs.empty()) {
      report.error(std::string(kRedisFile) + ": mode " + std::to_string(mode) +
                   " needs a master and [ConnectionMaster] lists none; set MasterNum=1, "
                   "MasterIp0= and MasterPort0=");
    }
  }
  if (mode == kRedisModeMasterSlave) {
    checkAddressList(report, ini,
                     {"ConnectionSlave", "SlaveNum", "SlaveIp", "SlavePort", "6379", "slave"},
                     settings->slaveAddrs);
  }
  if (mode == kRedisModeSentinel) {
    checkAddressList(report, ini,
                     {"Sentinel", "SentinelNum", "SentinelIp", "SentinelPort", "26379", "Sentinel"},
                     settings->sentinelAddrs);
    if (settings->sentinelAddrs.empty()) {
      report.error(std::string(kRedisFile) +
                   ": mode 3 needs a Sentinel and [Sentinel] lists none; set SentinelNum=1, "
                   "SentinelIp0= and SentinelPort0=");
    }
  }
  if (mode != kRedisModeMaster && mode != kRedisModeMasterSlave && mode != kRedisModeSentinel) {
    report.error(std::string(kRedisFile) + ": [ConnectionMode] Mode=" + std::to_string(mode) +
                 " is not 1, 2 or 3, so no Redis address is used; write Mode=1, 2 or 3");
  }
}

// ---- logsynset.ini ---------------------------------------------------------------

struct Dictionary {
  const char* section;
  const char* countKey;
  const char* codeKey;
  std::vector<const char*> textKeys;  // every text key of an entry, the code's included
  bool numericCode;                   // the code is read as a number (appsysid)
  const char* label;
};

void checkDictionary(CheckReport& report, IniReader& ini, GbkDisplay& gbk, const Dictionary& d,
                     std::size_t size) {
  const std::string countText = ini.readString(d.section, d.countKey, kAbsent);
  checkNumberText(report, kSyncFile, d.countKey, countText, false);
  const int32_t written = iniInt32(ini.readNumber(d.section, d.countKey, "0"));
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
    bool any = false;
    for (const char* key : d.textKeys) {
      const std::string text = ini.readString(d.section, keyName(key, i).c_str(), kAbsent);
      if (text == kAbsent) continue;
      any = true;
      if (text.size() > kMaxDictText) {
        report.warning(std::string(kSyncFile) + ": " + keyName(key, i) + " is " +
                       std::to_string(text.size()) + " bytes; only the first " +
                       std::to_string(kMaxDictText) + " are kept. Shorten it");
      }
    }
    if (!any) {
      unwritten.push_back(i);
      continue;
    }
    std::string code = ini.readString(d.section, keyName(d.codeKey, i).c_str(), kAbsent);
    if (code == kAbsent || code.empty()) {
      report.warning(std::string(kSyncFile) + ": entry " + std::to_string(i) + " of [" +
                     d.section + "] has an empty " + keyName(d.codeKey, i) +
                     (d.numericCode ? ", which reads as 0" : " and can never match") +
                     "; write its code");
      if (code == kAbsent) code.clear();
    }
    if (d.numericCode) {
      checkNumberText(report, kSyncFile, keyName(d.codeKey, i), code, false);
      code = std::to_string(iniInt32(std::strtoull(code.c_str(), nullptr, 0)));
    } else if (code.size() > kMaxDictText) {
      code.resize(kMaxDictText);
    }
    const auto seen = firstIndex.find(code);
    if (seen != firstIndex.end()) {
      report.warning(std::string(kSyncFile) + ": " + keyName(d.codeKey, i) + " repeats code " +
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

// Returns the URL as the service uses it (cut to kMaxUrl), "" when unusable.
std::string checkSyncSettings(CheckReport& report, bool present, std::string* scheme) {
  report.heading("Delivery and dictionaries (logsynset.ini)");
  if (!present) {
    report.row("file", "absent");
    report.error(std::string(kSyncFile) +
                 ": the file is missing, so the URL is empty and nothing can be posted. "
                 "Create cfg/logsynset.ini with [tovraurl] url=");
    return "";
  }
  SyncConfig config;
  IniReader ini(kSyncFile);
  GbkDisplay gbk;
  const std::string written = ini.readString("tovraurl", "url", "");
  const std::string url = config.url;
  report.row("url", url.empty() ? "(empty)" : gbk.show(urlWithoutCredentials(url)));
  if (written.size() > kMaxUrl) {
    report.warning(std::string(kSyncFile) + ": url is " + std::to_string(written.size()) +
                   " characters; only the first " + std::to_string(kMaxUrl) +
                   " are used. Shorten it");
  }
  std::string usable;
  if (url.empty()) {
    report.error(std::string(kSyncFile) +
                 ": [tovraurl] url is empty, so nothing can be posted; write the receiver's "
                 "URL, e.g. url=http://host:port/path");
  } else {
    const std::size_t sep = url.find("://");
    std::string s = sep == std::string::npos ? "" : url.substr(0, sep);
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (sep == std::string::npos) {
      report.row("scheme", "http (none written)");
      *scheme = "http";
      usable = url;
    } else if (s == "http" || s == "https") {
      report.row("scheme", s);
      *scheme = s;
      usable = url;
    } else {
      report.row("scheme", gbk.show(s) + " (unsupported)");
      report.error(std::string(kSyncFile) + ": the url's scheme " + gbk.quoted(s) +
                   " is not supported; only http and https are");
    }
  }
  checkNumberText(report, kSyncFile, "Flag", ini.readString("synLogFlag", "Flag", kAbsent), false);
  report.row("run log", config.logFlag != 0 ? "on" : "off");
  checkDictionary(report, ini, gbk,
                  {"appSysId", "appsysidnum", "appsysid", {"appsysid", "appsysiddesc"}, true,
                   "application systems"},
                  config.appSystems.size());
  checkDictionary(report, ini, gbk,
                  {"stationInfo", "stationnum", "stationcode",
                   {"stationlindid", "stationlinddesc", "stationid", "stationdesc", "stationcode"},
                   false, "stations"},
                  config.stations.size());
  checkDictionary(report, ini, gbk,
                  {"evevtType", "eventtypenum", "eventtypecode",
                   {"eventtypeid", "eventtypedesc", "eventtypecode"}, false, "event types"},
                  config.eventTypes.size());
  return usable;
}

// ---- tarvex.ini --------------------------------------------------------------------

std::string secretText(const std::string& secret) { return secret.empty() ? "(none)" : "(set)"; }

void checkReadable(CheckReport& report, const char* key, const std::string& path) {
  if (path.empty()) return;
  if (::access(path.c_str(), R_OK) != 0) {
    const int err = errno;
    report.error(std::string(kOptionsFile) + ": " + key + " " + path + " cannot be read (" +
                 std::strerror(err) + "); fix the path or the file's permissions");
  }
}

void checkOptions(CheckReport& report, const TarvexOptions& options, const std::string& scheme) {
  report.heading("Options (tarvex.ini)");
  if (!options.present) {
    report.row("file", "absent: every option at its default");
  } else if (options.unreadable) {
    report.row("file", "cannot be read: the service does not start");
  }
  const auto who = [](const std::string& user, const std::string& password) {
    if (password.empty()) return std::string("no AUTH");
    return "user " + (user.empty() ? std::string("(default)") : user) + ", password " +
           secretText(password);
  };
  report.row("Redis AUTH", who(options.redisUser, options.redisPassword));
  report.row("Sentinel AUTH", who(options.sentinelUser, options.sentinelPassword));
  report.row("CA file", options.caFile.empty() ? "(system store)" : options.caFile);
  report.row("client certificate", options.clientCertFile.empty() ? "(none)" : options.clientCertFile);
  report.row("client key", options.clientKeyFile.empty() ? "(none)" : options.clientKeyFile);
  report.row("extra headers", std::to_string(options.extraHeaders.size()) + " (values not shown)");
  report.row("keep-alive", options.keepAlive == 1 ? "on" : "off");
  if (options.durable == 1) {
    report.row("durable delivery", "on: stream up to " + std::to_string(options.streamMaxLen) +
                                       " entries, retries up to " +
                                       std::to_string(options.retryMaxSeconds) +
                                       " s apart, dead letters up to " +
                                       std::to_string(options.deadLetterMaxLen));
  } else {
    report.row("durable delivery", "off");
  }
  report.row("status endpoint", options.statusListen.empty() ? "off" : options.statusListen);
  report.row("stop hand-over", options.stopHandoverSeconds == 0
                                   ? "off: a stop signal ends the copy at once"
                                   : "waits up to " + std::to_string(options.stopHandoverSeconds) +
                                         " s for a successor");

  if (scheme == "https") {
    checkReadable(report, "CaFile", options.caFile);
    checkReadable(report, "ClientCertFile", options.clientCertFile);
    checkReadable(report, "ClientKeyFile", options.clientKeyFile);
  } else if (!options.caFile.empty() || !options.clientCertFile.empty() ||
             !options.clientKeyFile.empty()) {
    report.warning(std::string(kOptionsFile) +
                   ": TLS files are set but the url is not https, so they are not used");
  }
  std::string host;
  int port = 0;
  if (!options.statusListen.empty() && !splitListenAddress(options.statusListen, &host, &port)) {
    report.error(std::string(kOptionsFile) + ": StatusListen=" + options.statusListen +
                 " is not host:port with a decimal port 1..65535 (no leading 0); e.g. "
                 "StatusListen=127.0.0.1:9477");
  }
}

// ---- key names as written ------------------------------------------------------------

void checkKeyNames(CheckReport& report, const std::string& fileName) {
  const std::vector<KnownIniKey>* known = knownIniKeys(fileName);
  if (known == nullptr) return;
  std::set<std::string> sections;
  for (const KnownIniKey& k : *known) sections.insert(k.section);
  const IniLimits limits = limitsOf(fileName);
  IniReader ini(fileName.c_str(), limits);
  std::map<std::string, long> counts;  // count key -> value the service reads
  for (const IniKeyLine& line : scanIniKeys(configPath(fileName.c_str()), limits)) {
    if (sections.count(line.section) == 0) continue;
    const KnownIniKey* match = nullptr;
    long index = -1;
    const std::string where = fileName + ":" + std::to_string(line.line) + ": [" + line.section +
                              "] " + line.name;
    if (!matchKnownKey(*known, line.name, &match, &index)) {
      const std::string suggestion = suggestKnownKey(*known, line.name);
      report.warning(where + " is never read" +
                     (suggestion.empty() ? "; check its spelling"
                                         : "; did you mean " + suggestion + "?"));
      continue;
    }
    if (line.keptBytes < line.valueBytes) {
      if (line.lineBytes > limits.maxLine) {
        report.error(where + " is cut: its line is " + std::to_string(line.lineBytes) +
                     " bytes and only the first " + std::to_string(limits.maxLine) +
                     " bytes of a line are read. Shorten it");
      } else {
        report.error(where + " is cut: its value is " + std::to_string(line.valueBytes) +
                     " bytes and only the first " + std::to_string(limits.maxValue) +
                     " are read. Shorten it");
      }
    }
    if (index < 0 || match->countKey[0] == '\0') continue;
    if (counts.count(match->countKey) == 0) {
      counts[match->countKey] = iniInt32(ini.readNumber(match->section, match->countKey, "0"));
    }
    const long count = counts[match->countKey];
    if (index >= count) {
      report.warning(where + " is never read: " + match->countKey + " is " +
                     std::to_string(count) + ". Raise the count or remove the key");
    }
  }
}

// ---- tries ---------------------------------------------------------------------------

// With Durable=1, a master that names an older Redis than the stream needs.
void checkDurableVersion(CheckReport& report, const TarvexOptions& options,
                         const std::string& addr, const ProbeResult& r) {
  if (options.durable != 1 || !r.ok) return;
  if (compareRedisVersion(r.version, kDurableRedisMajor, kDurableRedisMinor) ==
      ServerVersion::kOlder) {
    report.error(std::string(kOptionsFile) + ": Durable=1 needs Redis " +
                 std::to_string(kDurableRedisMajor) + "." + std::to_string(kDurableRedisMinor) +
                 " or later (XAUTOCLAIM), but master " + addr + " runs " + r.version +
                 ", so the service does not start. Upgrade Redis or set Durable=0");
  }
}

void tryMaster(CheckReport& report, const TarvexOptions& options, const std::string& label,
               const std::string& addr) {
  const ProbeResult r =
      probeRedis(addr, options.redisUser, options.redisPassword, false, options.durable == 1);
  report.tried(label, r);
  checkDurableVersion(report, options, addr, r);
}

void tryEverything(CheckReport& report, const RedisSettings& settings,
                   const TarvexOptions& options, const std::string& url) {
  report.heading("Tries (" + std::to_string(kProbeTimeoutMs / 1000) + " s each)");
  if (settings.mode == kRedisModeSentinel) {
    std::vector<std::string> masters;
    for (const std::string& addr : settings.sentinelAddrs) {
      ProbeResult r = probeRedis(addr, options.sentinelUser, options.sentinelPassword, true);
      report.tried("Sentinel " + addr, r);
      if (masters.empty() && r.ok) masters = r.masters;
    }
    for (const std::string& addr : masters) {
      tryMaster(report, options, "master " + addr + " (found)", addr);
    }
  } else {
    for (const std::string& addr : settings.masterAddrs) {
      tryMaster(report, options, "master " + addr, addr);
    }
    for (const std::string& addr : settings.slaveAddrs) {
      report.tried("slave " + addr, probeRedis(addr, options.redisUser, options.redisPassword, false));
    }
  }
  if (!url.empty()) {
    report.tried("receiver", probeReceiver(url, {options.caFile, options.clientCertFile,
                                                 options.clientKeyFile}));
  }
}

}  // namespace

int runCheck(std::FILE* out) {
  CheckReport report(out);
  std::fprintf(out, "tarvex --check\n");
  std::string root;
  const char* from = std::getenv("ZQROOT") != nullptr ? "ZQROOT" : "VUVORER";
  if (!installRoot(&root)) {
    report.heading("Installation root");
    report.row("root", "(none)");
    report.error("neither ZQROOT nor VUVORER is set; set ZQROOT to the installation root");
    return report.finish();
  }
  report.heading("Files");
  report.row("installation root", root + " (from " + from + ")");
  const char* names[] = {kRedisFile, kSyncFile, kOptionsFile};
  bool present[3];
  for (int i = 0; i < 3; ++i) {
    const std::string path = configPath(names[i]);
    present[i] = fileExists(path);
    report.row(names[i], path.empty() ? "(path too long)" : path + (present[i] ? "" : " (absent)"));
    std::string why;
    if (present[i] && !configFileReadable(path, &why)) {
      report.error(std::string(names[i]) + ": cannot be read (" + why +
                   "); make it a file the service can read");
    }
  }

  RedisSettings settings;
  checkRedisSettings(report, present[0], &settings);
  std::string scheme;
  const std::string url = checkSyncSettings(report, present[1], &scheme);
  TarvexOptions options;
  options.load();
  checkOptions(report, options, scheme);
  for (int i = 0; i < 3; ++i) {
    if (present[i]) checkKeyNames(report, names[i]);
  }
  bool tlsFilesReadable = true;
  if (scheme == "https") {
    for (const std::string* f : {&options.caFile, &options.clientCertFile, &options.clientKeyFile}) {
      tlsFilesReadable = tlsFilesReadable && (f->empty() || ::access(f->c_str(), R_OK) == 0);
    }
  }
  tryEverything(report, settings, options, tlsFilesReadable ? url : "");
  return report.finish();
}
