#include "operator/check_options.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/ini_keys.h"
#include "status/status_endpoint.h"

namespace {

std::string secretText(const std::string& secret) { return secret.empty() ? "(none)" : "(set)"; }

// The AUTH a connection sends, without the password.
std::string authText(const std::string& user, const std::string& password) {
  if (password.empty()) return "no AUTH";
  return "user " + (user.empty() ? std::string("(default)") : user) + ", password " +
         secretText(password);
}

void checkReadable(CheckReport& report, const char* key, const std::string& path) {
  if (path.empty()) return;
  if (::access(path.c_str(), R_OK) != 0) {
    const int err = errno;
    report.error(std::string(kOptionsFile) + ": " + key + " " + path + " cannot be read (" +
                 std::strerror(err) + "); fix the path or the file's permissions");
  }
}

void showOptions(CheckReport& report, const TarvexOptions& options) {
  report.row("Redis AUTH", authText(options.redisUser, options.redisPassword));
  report.row("Sentinel AUTH", authText(options.sentinelUser, options.sentinelPassword));
  report.row("CA file", options.caFile.empty() ? "(system store)" : options.caFile);
  report.row("client certificate",
             options.clientCertFile.empty() ? "(none)" : options.clientCertFile);
  report.row("client key", options.clientKeyFile.empty() ? "(none)" : options.clientKeyFile);
  report.row("extra headers", std::to_string(options.extraHeaders.size()) + " (values not shown)");
  // As the delivery decides it: any value but 0 keeps the connection.
  report.row("keep-alive", options.keepAlive != 0 ? "on" : "off");
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
}

}  // namespace

void checkOptions(CheckReport& report, const TarvexOptions& options, const std::string& scheme) {
  report.heading("Options (tarvex.ini)");
  if (!options.present) {
    report.row("file", "absent: every option at its default");
  } else if (options.unreadable) {
    report.row("file", "cannot be read: the service does not start");
  }
  showOptions(report, options);

  if (scheme == "https") {
    checkReadable(report, ini::kCaFile, options.caFile);
    checkReadable(report, ini::kClientCertFile, options.clientCertFile);
    checkReadable(report, ini::kClientKeyFile, options.clientKeyFile);
  } else if (!options.caFile.empty() || !options.clientCertFile.empty() ||
             !options.clientKeyFile.empty()) {
    report.warning(std::string(kOptionsFile) +
                   ": TLS files are set but the url is not https, so they are not used");
  }
  std::string host;
  int port = 0;
  if (!options.statusListen.empty() && !splitListenAddress(options.statusListen, &host, &port)) {
    report.error(std::string(kOptionsFile) + ": " + ini::kStatusListen + "=" +
                 options.statusListen +
                 " is not host:port with a decimal port 1..65535 (no leading 0); e.g. " +
                 ini::kStatusListen + "=127.0.0.1:9477");
  }
}
