#include "status/status_endpoint.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/timing.h"
#include "platform/clock.h"
#include "platform/decimal.h"
#include "status/status_view.h"

namespace {

constexpr const char* kTextFormat = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kJsonFormat = "application/json";
constexpr int32_t kMaxPort = 65535;

enum MHD_Result reply(MHD_Connection* connection, unsigned status, const std::string& body,
                      const char* contentType) {
  MhdResponsePtr response(MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY));
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
  if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
    MHD_add_response_header(response.get(), MHD_HTTP_HEADER_ALLOW, "GET");
  }
  return MHD_queue_response(connection, status, response.get());
}

enum MHD_Result answer(void*, MHD_Connection* connection, const char* url, const char* method,
                       const char*, const char*, size_t*, void**) {
  const std::string path = url != nullptr ? url : "";
  const bool known = path == "/metrics" || path == "/health";
  if (!known) return reply(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain");
  if (method == nullptr || std::strcmp(method, MHD_HTTP_METHOD_GET) != 0) {
    return reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET\n", "text/plain");
  }
  if (path == "/metrics") return reply(connection, MHD_HTTP_OK, renderMetrics(), kTextFormat);
  const HealthAnswer health = healthAnswer(steadyMs(), wallSeconds());
  return reply(connection, static_cast<unsigned>(health.httpStatus), health.json, kJsonFormat);
}

void listenFailed(const std::string& listen, const char* reason) {
  std::fprintf(stderr, "tarvex: status endpoint not started: cannot listen on %s: %s\n",
               listen.c_str(), reason);
  std::fflush(stderr);
}

}  // namespace

bool splitListenAddress(const std::string& listen, std::string* host, int* port) {
  const std::size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string h = listen.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  const std::string p = listen.substr(colon + 1);
  int32_t value = 0;
  // Digits only, without a leading zero.
  if (h.empty() || p.empty() || p[0] == '0' || !decimalInRange(p, 1, kMaxPort, &value)) {
    return false;
  }
  *host = h;
  *port = value;
  return true;
}

int StatusEndpoint::start(const std::string& listen) {
  std::string host;
  int port = 0;
  if (!splitListenAddress(listen, &host, &port)) {
    listenFailed(listen, "not host:port with a port 1..65535");
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int gai = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (gai != 0 || found == nullptr) {
    listenFailed(listen, gai_strerror(gai));
    return -1;
  }
  const int family = found->ai_family;
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int err = fd < 0 ? errno : 0;
  if (fd >= 0) {
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 16) != 0) err = errno;
  }
  freeaddrinfo(found);
  if (err != 0) {
    if (fd >= 0) ::close(fd);
    listenFailed(listen, std::strerror(err));
    return -1;
  }
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
  if (family == AF_INET6) flags |= MHD_USE_IPv6;
  // MHD owns the socket from here on and closes it when the daemon stops.
  daemon_.reset(MHD_start_daemon(
      flags, 0, nullptr, nullptr, &answer, nullptr, MHD_OPTION_LISTEN_SOCKET, fd,
      MHD_OPTION_CONNECTION_TIMEOUT, kStatusConnectionTimeoutSec, MHD_OPTION_CONNECTION_LIMIT,
      kStatusConnectionLimit, MHD_OPTION_END));
  if (daemon_ == nullptr) {
    ::close(fd);
    listenFailed(listen, "the HTTP server did not start");
    return -1;
  }
  port_ = port;
  return 1;
}
