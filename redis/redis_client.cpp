#include "redis/redis_client.h"

#include <sys/time.h>

#include <cstdlib>
#include <cstring>

namespace {

// Splits "host:port" into *addr. Returns false, leaving the host empty, when the
// text or its host part is too long to hold; such an address is skipped like one
// that does not answer.
bool parseAddress(const std::string& text, RedisAddress* addr) {
  std::memset(addr->host, 0, sizeof(addr->host));
  addr->port = 0;
  if (text.size() > kMaxRedisAddress) return false;
  std::vector<std::string> parts = RedisClient::splitText(text, ":");
  if (parts.empty()) return false;
  if (parts[0].size() > kMaxRedisHost) return false;
  std::memcpy(addr->host, parts[0].data(), parts[0].size());
  addr->port = parts.size() > 1 ? std::atoi(parts[1].c_str()) : 0;
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

RedisContextPtr RedisClient::connectTo(const RedisAddress& addr) const {
  if (useTimeout != 1) return RedisContextPtr(redisConnect(addr.host, addr.port));
  struct timeval tv;
  tv.tv_sec = timeoutSec + timeoutUsec / 1000000;
  tv.tv_usec = timeoutUsec % 1000000;
  // hiredis works in whole milliseconds: a time-out below 1 ms sets no limit on
  // commands, and must not turn into a zero-length connect wait either.
  const bool belowOneMs = tv.tv_sec == 0 && tv.tv_usec < 1000;
  // A configured command time-out also bounds the TCP connect, so that a host that
  // is powered off does not hold the thread for minutes of retries.
  RedisContextPtr c(belowOneMs ? redisConnect(addr.host, addr.port)
                               : redisConnectWithTimeout(addr.host, addr.port, tv));
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
