// The operator check's tries: one Redis server or Sentinel, and the receiver.
// Each try makes its own connection, bounded by kProbeTimeoutMs for the connect
// and for every exchange, and closes it again. Results never hold a password: a
// refused AUTH shows Redis's own error text only. Safe from any thread; nothing is
// shared.
#ifndef TARVEX_OPERATOR_REACH_PROBE_H_
#define TARVEX_OPERATOR_REACH_PROBE_H_

#include <string>
#include <vector>

#include "config/timing.h"
#include "delivery/curl_tls.h"


struct ProbeResult {
  bool ok = false;
  std::string detail;                 // "PONG in 0.4 ms", "connection refused", ...
  std::vector<std::string> masters;   // a Sentinel's healthy masters, "host:port"
  std::string version;                // redis_version, when asked for and answered
};

// Connects to `address` ("host:port"), sends AUTH [user] password when `password`
// is not empty, then PING; for a Sentinel also SENTINEL masters. With `askVersion`
// a server that answered PING is also sent INFO server; its redis_version lands in
// `version` and is added to the detail (a failed INFO fails nothing).
ProbeResult probeRedis(const std::string& address, const std::string& user,
                       const std::string& password, bool sentinel, bool askVersion = false);

// TLS settings of an https try: the delivery's own (delivery/curl_tls.h).
using ProbeTls = TlsFiles;

// A TCP connect to the URL's host and port, or for https a TLS handshake set up
// exactly as the delivery's posts are (setCurlTls), so it passes only a receiver
// the delivery would reach.
ProbeResult probeReceiver(const std::string& url, const ProbeTls& tls);

#endif  // TARVEX_OPERATOR_REACH_PROBE_H_
