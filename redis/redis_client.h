// RedisClient: one thread's connections to Redis.
//
// Construction loads rdsset.ini (RedisSettings) and decides the command time-out,
// but connects nothing. connect(1|2|3) (re)makes the read connection (a slave when
// one answers, else a master), the write connection (a master), or both; in
// Sentinel mode it first rediscovers the masters and slaves. A connection that
// breaks stays in its error state until the next connect of its kind replaces it.
// Addresses are tried in list order, except that a readOffset of 0 or more makes
// connectRead start among the slaves at a point of its own (see readOffset); one
// whose host has more than 51 characters or whose text has more than 127 is skipped
// like one that does not answer.
//
// Every connection gets TCP keep-alive and a TCP user time-out, so a peer that is
// switched off or cut off fails the exchange within about kDeadPeerSeconds instead
// of leaving a read blocked for ever; a live idle peer answers the probes from its
// kernel and is never disturbed. Without a command time-out the TCP connect is
// still bounded by kConnectTimeoutMs. When cfg/tarvex.ini gives credentials, AUTH
// is the first command on every new connection (data-node credentials for masters
// and replicas, Sentinel credentials for Sentinels); a refused AUTH makes the
// address count as not answering, with one stderr line naming the address and
// Redis's error text, never the password.
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
#include "config/tarvex_options.h"
#include "config/timing.h"
#include "redis/redis_connect.h"
#include "redis/redis_handles.h"

class TextSink;  // redis/subscriber.h

// Host and port of an address being tried or read.
struct RedisAddress {
  char host[kMaxRedisHost + 1];  // NUL-terminated, at most 51 characters
  int32_t port;
};

// Buffer size of host names in the arbitration hash, with the NUL.
constexpr std::size_t kUseFlagHostSize = 128;

// Which credentials a new connection uses.
enum class RedisPeer { kDataNode, kSentinel };

class RedisClient : public RedisSettings {
 public:
  // Loads rdsset.ini; the credentials and stream settings come from `options`
  // (copied), loaded once by the caller.
  explicit RedisClient(const TarvexOptions& options);
  // The same with cfg/tarvex.ini loaded here: for a caller that has no options
  // object (a one-shot command, a test).
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
  // 1 when writeConn is usable afterwards, else -1. `avoid`, when not null, is an
  // address text passed over (a master that answered READONLY), unless it is the
  // only master listed.
  int connectWrite(const std::string* avoid = nullptr);

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

  // One command exchange on the read (which = 1) or write (which = 2) connection,
  // each argument as given (blanks and percent signs included): makes the
  // connection when it is not usable, and when no reply comes back (the transport
  // failed) reconnects and sends once more. A write answered READONLY reached a
  // demoted master: the write connection is made again, passing over that address,
  // and the command sent once more (in Sentinel mode a fresh discovery runs first).
  // Null when both tries failed; an error reply is returned as it is.
  RedisReplyPtr exchange(int which, int argc, const char** argv, const std::size_t* argvlen);
  RedisReplyPtr exchange(int which, const std::vector<std::string>& args);

  // redisShedReadBuffer on the read (1) or write (2) connection: after a large reply.
  void shedReadBuffer(int which) {
    redisShedReadBuffer(which == 1 ? readConn.get() : writeConn.get());
  }

  // Arbitration hash useflag:tarvex. readUseFlag: 1 both fields read (host cut to
  // 127 bytes), 0 a field is missing, -1 no usable reply. writeUseFlag: 1 or -1.
  int readUseFlag(char host[kUseFlagHostSize], int32_t& time);
  int writeUseFlag(const char* host, int32_t time);

  // Subscribes to `channels` on readConn and hands every delivered text holding
  // "Control" to `sink` (redis/subscriber.h) until it stops receiving or a read
  // fails. -1: empty list or subscription not made; 0: ended after reading.
  int subscribeAndReceive(std::vector<std::string> channels, TextSink& sink);

  // The command time-out as it is set on sockets: cut to whole milliseconds. False
  // (tv untouched) when useTimeout is 0 or the time-out comes to less than 1 ms,
  // which sets no limit.
  bool commandTimeval(struct timeval* tv) const;

  // Opens a connection to `addr`, with keep-alive and the user time-out set. When
  // useTimeout is 1 the command time-out, cut to whole milliseconds, bounds the TCP
  // connect and then every command on it (a time-out below 1 ms sets no command
  // limit); otherwise kConnectTimeoutMs bounds the connect and commands have no
  // limit. Then AUTH with the credentials of `peer`, when they are set. The result
  // may be in error or null; test it with redisUsable.
  RedisContextPtr connectTo(const RedisAddress& addr,
                            RedisPeer peer = RedisPeer::kDataNode) const;

  int32_t useTimeout = 0;  // 1 when a command time-out is set on every connection
  // Where connectRead starts among the slaves. -1 (the default): in list order.
  // 0 or more: the slave address texts are sorted and tried from
  // sorted[readOffset % count] onwards, wrapping, so copies given different offsets
  // read from different slaves whatever order discovery lists them in. Masters are
  // tried after the slaves either way.
  int64_t readOffset = -1;
  TarvexOptions options;   // cfg/tarvex.ini as the constructor got it

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
