// RedisClient: one thread's connections to Redis.
//
// Construction loads rdsset.ini (RedisSettings) and decides the command time-out,
// but connects nothing. connect(1|2|3) (re)makes the read connection (a slave when
// one answers, else a master), the write connection (a master), or both; in
// Sentinel mode it first rediscovers the masters and slaves. A connection that
// breaks stays in its error state until the next connect of its kind replaces it.
// Addresses are tried in list order; one whose host has more than 51 characters or
// whose text has more than 127 is skipped like one that does not answer.
//
// A client belongs to the thread that made it and is never shared; it takes no
// lock. Destruction closes writeConn, readConn and sentinelConn, in that order.
//
// Status results follow the service's convention: 1 success, -1 failure, 0 where an
// operation documents a third outcome.
#ifndef TARVEX_REDIS_REDIS_CLIENT_H_
#define TARVEX_REDIS_REDIS_CLIENT_H_

#include <sys/time.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/redis_settings.h"
#include "redis/redis_handles.h"

// Host and port of an address being tried or read.
struct RedisAddress {
  char host[kMaxRedisHost + 1];  // NUL-terminated, at most 51 characters
  int32_t port;
};

// Buffer size of host names in the arbitration hash, with the NUL.
constexpr std::size_t kUseFlagHostSize = 128;

class RedisClient : public RedisSettings {
 public:
  RedisClient();
  ~RedisClient();

  RedisClient(const RedisClient&) = delete;
  RedisClient& operator=(const RedisClient&) = delete;

  // Accepts a time-out unless both parts are 0 or either is negative; then stores
  // it, sets useTimeout to 1 and returns true. Otherwise changes nothing.
  bool setCommandTimeout(int32_t sec, int32_t usec);

  // 1: connectRead; 2: connectWrite; 3: both, read first; other: neither. In mode 3
  // discoverFromSentinels runs first. Always returns 1: test the connection.
  int connect(int which);
  int connectRead();   // 1 when readConn is usable afterwards, else -1
  int connectWrite();  // 1 when writeConn is usable afterwards, else -1

  // Splits `text` at every `delim`; an empty piece between delimiters is kept, an
  // empty rest at the end is not. "a:b" -> {a,b}; "a:" -> {a}; ":b" -> {"",b}.
  static std::vector<std::string> splitText(const std::string& text, const std::string& delim);

  // Splits "host:port" into *addr (port read like atoi). Returns false, leaving the
  // host empty and the port 0, when the text or its host part is too long to hold;
  // such an address is skipped like one that does not answer.
  static bool parseAddress(const std::string& text, RedisAddress* addr);

  // Sentinel discovery (mode 3). discoverFromSentinels: 0 no Sentinel configured,
  // -1 none answered or no healthy master listed, 1 masters found.
  int discoverFromSentinels();
  int queryMasters();  // 1 when at least one master was accepted, else -1
  int querySlaves();   // 1 when at least one slave was accepted, else -1

  // Arbitration hash useflag:tarvex. readUseFlag: 1 both fields read (host cut to
  // 127 bytes), 0 a field is missing, -1 no usable reply. writeUseFlag: 1 or -1.
  int readUseFlag(char host[kUseFlagHostSize], int32_t& time);
  int writeUseFlag(const char* host, int32_t time);

  // Subscribes to `channels` on readConn and queues every delivered text holding
  // "Control" until RunFlag is 0 or a read fails. -1: empty list or subscription not
  // made; 0: ended after reading.
  int subscribeAndReceive(std::vector<std::string> channels);

  // The command time-out as it is set on sockets: cut to whole milliseconds. False
  // (tv untouched) when useTimeout is 0 or the time-out comes to less than 1 ms,
  // which sets no limit.
  bool commandTimeval(struct timeval* tv) const;

  // Opens a connection to `addr`. When useTimeout is 1 the command time-out, cut to
  // whole milliseconds, bounds the TCP connect and then every command on it; a
  // time-out below 1 ms sets no limit and the connect blocks. The result may be in
  // error.
  RedisContextPtr connectTo(const RedisAddress& addr) const;

  int32_t useTimeout = 0;  // 1 when a command time-out is set on every connection

  RedisContextPtr sentinelConn;  // connection to the Sentinel last reached
  RedisContextPtr writeConn;     // always to a master
  RedisContextPtr readConn;      // to a slave when one answers, else a master

  RedisAddress masterAddr{};    // address the write connection last tried
  RedisAddress readAddr{};      // address the read connection last tried
  RedisAddress sentinelAddr{};  // Sentinel address last tried
  char masterName[kMaxRedisHost + 1] = {};  // name from the last "SENTINEL masters"
  int32_t sentinelCursor = -1;  // index of the Sentinel last tried; -1 before any
};

#endif  // TARVEX_REDIS_REDIS_CLIENT_H_
