#include "operator/check_command.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "config/config_path.h"
#include "config/ini_keys.h"
#include "config/redis_settings.h"
#include "config/tarvex_options.h"
#include "operator/check_key_lines.h"
#include "operator/check_options.h"
#include "operator/check_redis_file.h"
#include "operator/check_report.h"
#include "operator/check_sync_file.h"
#include "operator/check_tries.h"

namespace {

constexpr int kFiles = 3;  // rdsset.ini, logsynset.ini, tarvex.ini

bool fileExists(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

// Whether the https try can work: every TLS file set can be read.
bool tlsFilesReadable(const TarvexOptions& options) {
  for (const std::string* f : {&options.caFile, &options.clientCertFile, &options.clientKeyFile}) {
    if (!f->empty() && ::access(f->c_str(), R_OK) != 0) return false;
  }
  return true;
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
  const char* names[kFiles] = {kRedisFile, kSyncFile, kOptionsFile};
  bool present[kFiles];
  for (int i = 0; i < kFiles; ++i) {
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
  checkRedisFile(report, present[0], &settings);
  std::string scheme;
  const std::string url = checkSyncFile(report, present[1], &scheme);
  TarvexOptions options;
  options.load();
  checkOptions(report, options, scheme);
  for (int i = 0; i < kFiles; ++i) {
    if (present[i]) checkKeyLines(report, names[i]);
  }
  const bool tryReceiver = scheme != "https" || tlsFilesReadable(options);
  tryEverything(report, settings, options, tryReceiver ? url : "");
  return report.finish();
}
