#include "redis/redis_connect.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>

namespace {

// Turns on keep-alive probes and the user time-out on a connected socket. A
// failure leaves the connection as it is: it still works, only without the bound.
void setDeadPeerDetection(int fd) {
  const int on = 1;
  const int idle = kKeepAliveIdleSec;
  const int interval = kKeepAliveIntervalSec;
  const int probes = kKeepAliveProbes;
  const unsigned int userTimeout = kTcpUserTimeoutMs;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof(probes));
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof(userTimeout));
}

}  // namespace

RedisConnection redisConnectAndAuth(const char* host, int port, const struct timeval& connectLimit,
                                    const struct timeval* commandLimit, const std::string& user,
                                    const std::string& password) {
  RedisConnection result;
  result.conn.reset(redisConnectWithTimeout(host, port, connectLimit));
  if (!redisUsable(result.conn)) {
    if (result.conn != nullptr) result.reason = result.conn->errstr;
    return result;
  }
  redisContext* c = result.conn.get();
  if (commandLimit != nullptr) redisSetTimeout(c, *commandLimit);
  setDeadPeerDetection(c->fd);
  // TLS to Redis would be set up here, before AUTH; this hiredis has no TLS.
  if (!password.empty()) {
    const char* argv[3] = {"AUTH", nullptr, nullptr};
    std::size_t argvlen[3] = {4, 0, 0};
    int argc = 1;
    if (!user.empty()) {
      argv[argc] = user.data();
      argvlen[argc++] = user.size();
    }
    argv[argc] = password.data();
    argvlen[argc++] = password.size();
    RedisReplyPtr reply(static_cast<redisReply*>(redisCommandArgv(c, argc, argv, argvlen)));
    if (reply == nullptr || reply->type == REDIS_REPLY_ERROR) {
      result.state = reply == nullptr ? RedisLogin::kAuthUnanswered : RedisLogin::kAuthRefused;
      result.reason = reply == nullptr ? std::string(c->errstr) : std::string(reply->str, reply->len);
      result.conn.reset();
      return result;
    }
  }
  result.state = RedisLogin::kReady;
  return result;
}
