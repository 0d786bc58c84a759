// StatusEndpoint: the HTTP status endpoint, served by libmicrohttpd on a thread of
// its own.
//
//   GET /metrics  200, the Prometheus text format (renderMetrics)
//   GET /health   200 or 503 with a short JSON status (healthAnswer)
//   other paths   404; other methods on the two paths 405
//
// start() parses "host:port" (a name, an IPv4 address or a bracketed IPv6
// address), binds and listens itself, so that a failure names its reason: it then
// writes one stderr line and returns -1, and nothing else changes. The handlers
// only read atomics; they never wait for the forwarding loop. The destructor stops
// the thread and closes the socket. Not copyable; start() once per object.
#ifndef TARVEX_STATUS_STATUS_ENDPOINT_H_
#define TARVEX_STATUS_STATUS_ENDPOINT_H_

#include <string>

#include "status/mhd_handles.h"

constexpr unsigned kStatusConnectionLimit = 16;       // clients served at once

class StatusEndpoint {
 public:
  StatusEndpoint() = default;
  StatusEndpoint(const StatusEndpoint&) = delete;
  StatusEndpoint& operator=(const StatusEndpoint&) = delete;

  // 1 listening, -1 not (one stderr line says why).
  int start(const std::string& listen);
  int port() const { return port_; }

 private:
  MhdDaemonPtr daemon_;
  int port_ = 0;
};

// Splits "host:port" or "[v6]:port". False when there is no colon, the host is
// empty or the port is not 1..65535 written in decimal.
bool splitListenAddress(const std::string& listen, std::string* host, int* port);

#endif  // TARVEX_STATUS_STATUS_ENDPOINT_H_
