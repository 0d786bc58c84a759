#include "redis/redis_client.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/timing.h"
#include "platform/decimal.h"
#include "telemetry/metrics.h"

namespace {

// Units of the command time-out.

// The command time-out as the sockets take it: cut to whole milliseconds. Returns
// false when that comes to 0 ms, which sets no limit at all.
bool wholeMsTimeout(int32_t sec, int32_t usec, struct timeval* tv) {
  const int64_t ms = static_cast<int64_t>(sec) * kMsPerSecond + usec / kUsPerMs;
  if (ms <= 0) return false;
  tv->tv_sec = static_cast<time_t>(ms / kMsPerSecond);
  tv->tv_usec = static_cast<suseconds_t>((ms % kMsPerSecond) * kUsPerMs);
  return true;
}

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

// Sends AUTH [user] password when a password is set. False when Redis refused it or
// did not answer; one stderr line then names the address and Redis's reason.
bool authenticate(redisContext* c, const std::string& user, const std::string& password,
                  const RedisAddress& addr) {
  if (password.empty()) return true;
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
  if (reply != nullptr && reply->type != REDIS_REPLY_ERROR) return true;
  std::string reason = reply != nullptr ? std::string(reply->str, reply->len)
                                        : std::string(c->errstr[0] != '\0' ? c->errstr
                                                                           : "no reply");
  std::fprintf(stderr, "redis %s:%d refused AUTH%s: %s\n", addr.host, static_cast<int>(addr.port),
               user.empty() ? "" : (" for user " + user).c_str(), reason.c_str());
  return false;
}

// Sends one command on `conn` with each argument as given (blanks and percent
// signs included). No reply when the connection is absent or in error.
// One command and its reply on a blocking connection. The command is formatted
// once, straight into the output buffer when that is empty (it always is between
// two exchanges): redisCommandArgv would format it and then copy it there, holding
// a large capture twice more than needed.
RedisReplyPtr sendArgv(const RedisContextPtr& conn, int argc, const char** argv,
                       const std::size_t* argvlen) {
  if (!redisUsable(conn)) return nullptr;
  redisContext* c = conn.get();
  if (c->obuf == nullptr || sdslen(c->obuf) != 0) {
    return RedisReplyPtr(static_cast<redisReply*>(redisCommandArgv(c, argc, argv, argvlen)));
  }
  sds command = nullptr;
  if (redisFormatSdsCommandArgv(&command, argc, argv, argvlen) < 0 || command == nullptr) {
    return nullptr;
  }
  sdsfree(c->obuf);
  c->obuf = command;
  void* raw = nullptr;
  if (redisGetReply(c, &raw) != REDIS_OK) return nullptr;
  return RedisReplyPtr(static_cast<redisReply*>(raw));
}

// The address text of the master the write connection reached.
std::string writeAddressText(const RedisClient& client) {
  return std::string(client.masterAddr.host) + ":" + std::to_string(client.masterAddr.port);
}

}  // namespace

RedisReplyPtr RedisClient::exchange(int which, int argc, const char** argv,
                                    const std::size_t* argvlen) {
  const RedisContextPtr& conn = which == 1 ? readConn : writeConn;
  if (!redisUsable(conn)) connect(which);
  RedisReplyPtr reply = sendArgv(conn, argc, argv, argvlen);
  if (!reply) {
    connect(which);
    reply = sendArgv(conn, argc, argv, argvlen);
  } else if (which == 2 && redisErrorStarts(reply.get(), "READONLY")) {
    // A demoted master: the write connection goes to another one.
    const std::string demoted = writeAddressText(*this);
    if (mode == kRedisModeSentinel) discoverFromSentinels();
    connectWrite(&demoted);
    reply = sendArgv(conn, argc, argv, argvlen);
  }
  return reply;
}

RedisReplyPtr RedisClient::exchange(int which, const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  std::vector<std::size_t> argvlen;
  argv.reserve(args.size());
  argvlen.reserve(args.size());
  for (const std::string& a : args) {
    argv.push_back(a.data());
    argvlen.push_back(a.size());
  }
  return exchange(which, static_cast<int>(args.size()), argv.data(), argvlen.data());
}

RedisClient::RedisClient(const TarvexOptions& loaded) : options(loaded) {
  masterAddrs.clear();
  slaveAddrs.clear();
  sentinelAddrs.clear();
  loadSettings();
  setCommandTimeout(timeoutSec, timeoutUsec);
}

RedisClient::RedisClient() : RedisClient(loadedTarvexOptions()) {}

RedisClient::~RedisClient() {
  writeConn.reset();
  readConn.reset();
  sentinelConn.reset();
}

bool RedisClient::setCommandTimeout(int32_t sec, int32_t usec) {
  if ((sec == 0 && usec == 0) || sec < 0 || usec < 0) return false;
  timeoutSec = sec;
  timeoutUsec = usec;
  useTimeout = 1;
  return true;
}

bool RedisClient::commandTimeval(struct timeval* tv) const {
  return useTimeout == 1 && wholeMsTimeout(timeoutSec, timeoutUsec, tv);
}

RedisContextPtr RedisClient::connectTo(const RedisAddress& addr, RedisPeer peer) const {
  // The connect is always bounded, so that a host that is powered off does not hold
  // the thread for minutes of SYN retries: by the command time-out when one is
  // configured, else by kConnectTimeoutMs.
  struct timeval tv;
  const bool commandLimit = commandTimeval(&tv);
  if (!commandLimit) {
    tv.tv_sec = kConnectTimeoutMs / kMsPerSecond;
    tv.tv_usec = static_cast<suseconds_t>((kConnectTimeoutMs % kMsPerSecond) * kUsPerMs);
  }
  RedisContextPtr c(redisConnectWithTimeout(addr.host, addr.port, tv));
  if (!redisUsable(c)) return c;
  if (commandLimit) redisSetTimeout(c.get(), tv);
  setDeadPeerDetection(c->fd);
  // TLS to Redis would be set up here, before AUTH; this hiredis has no TLS.
  const bool sentinel = peer == RedisPeer::kSentinel;
  if (!authenticate(c.get(), sentinel ? options.sentinelUser : options.redisUser,
                    sentinel ? options.sentinelPassword : options.redisPassword, addr)) {
    return nullptr;
  }
  return c;
}

int RedisClient::connect(int which) {
  if (mode == kRedisModeSentinel) discoverFromSentinels();
  if (which == 1) {
    connectRead();
  } else if (which == 2) {
    connectWrite();
  } else if (which == 3) {
    connectRead();
    connectWrite();
  }
  return 1;
}

int RedisClient::connectRead() {
  if (readConn != nullptr) metricsRedisReconnect();
  readConn.reset();
  std::vector<std::string> order = slaveAddrs;
  if (readOffset >= 0 && !order.empty()) {
    std::sort(order.begin(), order.end());
    const std::size_t first = static_cast<std::size_t>(readOffset) % order.size();
    std::rotate(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(first), order.end());
  }
  order.insert(order.end(), masterAddrs.begin(), masterAddrs.end());
  for (const std::string& text : order) {
    if (!parseAddress(text, &readAddr)) continue;
    RedisContextPtr c = connectTo(readAddr);
    if (redisUsable(c)) {
      readConn = std::move(c);
      return 1;
    }
  }
  return -1;
}

int RedisClient::connectWrite(const std::string* avoid) {
  if (writeConn != nullptr) metricsRedisReconnect();
  writeConn.reset();
  const bool passOver = avoid != nullptr && masterAddrs.size() > 1;
  for (const std::string& text : masterAddrs) {
    if (passOver && text == *avoid) continue;
    if (!parseAddress(text, &masterAddr)) continue;
    RedisContextPtr c = connectTo(masterAddr);
    if (redisUsable(c)) {
      writeConn = std::move(c);
      return 1;
    }
  }
  return -1;
}

bool RedisClient::parseAddress(const std::string& text, RedisAddress* addr) {
  std::memset(addr->host, 0, sizeof(addr->host));
  addr->port = 0;
  if (text.size() > kMaxRedisAddress) return false;
  std::vector<std::string> parts = splitText(text, ":");
  if (parts.empty()) return false;
  if (parts[0].size() > kMaxRedisHost) return false;
  std::memcpy(addr->host, parts[0].data(), parts[0].size());
  if (parts.size() > 1) addr->port = decimalInt32(parts[1]);
  return true;
}

std::vector<std::string> RedisClient::splitText(const std::string& text,
                                                const std::string& delim) {
  std::vector<std::string> parts;
  if (delim.empty()) {
    if (!text.empty()) parts.push_back(text);
    return parts;
  }
  std::size_t start = 0;
  std::size_t pos;
  while ((pos = text.find(delim, start)) != std::string::npos) {
    parts.push_back(text.substr(start, pos - start));
    start = pos + delim.size();
  }
  if (start < text.size()) parts.push_back(text.substr(start));
  return parts;
}
