#include "redis/redis_client.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/timing.h"
#include "platform/decimal.h"
#include "redis/redis_connect.h"
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
  const bool sentinel = peer == RedisPeer::kSentinel;
  const std::string& user = sentinel ? options.sentinelUser : options.redisUser;
  RedisConnection made = redisConnectAndAuth(addr.host, addr.port, tv, commandLimit ? &tv : nullptr,
                                             user, sentinel ? options.sentinelPassword
                                                            : options.redisPassword);
  if (made.state == RedisLogin::kAuthRefused || made.state == RedisLogin::kAuthUnanswered) {
    // The address counts as not answering; the line names it and Redis's reason.
    const std::string reason = made.state == RedisLogin::kAuthRefused || !made.reason.empty()
                                   ? made.reason
                                   : std::string("no reply");
    std::fprintf(stderr, "redis %s:%d refused AUTH%s: %s\n", addr.host,
                 static_cast<int>(addr.port), user.empty() ? "" : (" for user " + user).c_str(),
                 reason.c_str());
    return nullptr;
  }
  return std::move(made.conn);
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
