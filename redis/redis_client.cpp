#include "redis/redis_client.h"

#include <sys/time.h>
#include <sys/types.h>

#include <cstdlib>
#include <cstring>

#include "status/status.h"

namespace {

// Units of the command time-out.
constexpr int64_t kUsecPerMs = 1000;      // microseconds in a millisecond
constexpr int64_t kMsPerSec = 1000;       // milliseconds in a second

// The command time-out as the sockets take it: cut to whole milliseconds. Returns
// false when that comes to 0 ms, which sets no limit at all.
bool wholeMsTimeout(int32_t sec, int32_t usec, struct timeval* tv) {
  const int64_t ms = static_cast<int64_t>(sec) * kMsPerSec + usec / kUsecPerMs;
  if (ms <= 0) return false;
  tv->tv_sec = static_cast<time_t>(ms / kMsPerSec);
  tv->tv_usec = static_cast<suseconds_t>((ms % kMsPerSec) * kUsecPerMs);
  return true;
}

}  // namespace

RedisClient::RedisClient() {
  masterAddrs.clear();
  slaveAddrs.clear();
  sentinelAddrs.clear();
  loadSettings();
  setCommandTimeout(timeoutSec, timeoutUsec);
}

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

RedisContextPtr RedisClient::connectTo(const RedisAddress& addr) const {
  struct timeval tv;
  if (!commandTimeval(&tv)) {
    return RedisContextPtr(redisConnect(addr.host, addr.port));
  }
  // A configured command time-out also bounds the TCP connect, so that a host that
  // is powered off does not hold the thread for minutes of SYN retries.
  RedisContextPtr c(redisConnectWithTimeout(addr.host, addr.port, tv));
  if (redisUsable(c)) redisSetTimeout(c.get(), tv);
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
  for (const std::vector<std::string>* list : {&slaveAddrs, &masterAddrs}) {
    for (const std::string& text : *list) {
      if (!parseAddress(text, &readAddr)) continue;
      RedisContextPtr c = connectTo(readAddr);
      if (redisUsable(c)) {
        readConn = std::move(c);
        return 1;
      }
    }
  }
  return -1;
}

int RedisClient::connectWrite() {
  if (writeConn != nullptr) metricsRedisReconnect();
  writeConn.reset();
  for (const std::string& text : masterAddrs) {
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
  // Read like atoi, without its undefined overflow.
  if (parts.size() > 1) {
    addr->port = static_cast<int32_t>(std::strtol(parts[1].c_str(), nullptr, 10));
  }
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
