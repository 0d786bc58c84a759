// redisConnectAndAuth: the one way tarvex opens a connection to a Redis server or
// Sentinel. RedisClient's connections and the operator check's tries both come here.
//
// Connects to host:port with the TCP connect bounded by `connectLimit`;
// `commandLimit`, when not null, then bounds every command on the connection, AUTH
// included. Every connection gets TCP keep-alive and a TCP user time-out, so a peer
// that is switched off or cut off fails an exchange within about kDeadPeerSeconds
// instead of leaving a read blocked for ever. When `password` is not empty,
// AUTH [user] password is the first command.
//
// The result says how far it got:
//   kReady           conn usable (and authenticated when a password was given)
//   kNotConnected    conn null, or in error with hiredis's text in `reason`
//   kAuthRefused     Redis answered AUTH with an error: its text in `reason`
//   kAuthUnanswered  no reply to AUTH: hiredis's error text in `reason` ("" if none)
// After a failed AUTH the connection is closed and conn is null. No result ever
// holds the password. Thread-safe: nothing is shared.
#ifndef TARVEX_REDIS_REDIS_CONNECT_H_
#define TARVEX_REDIS_REDIS_CONNECT_H_

#include <sys/time.h>

#include <string>

#include "config/timing.h"
#include "redis/redis_handles.h"

enum class RedisLogin { kReady, kNotConnected, kAuthRefused, kAuthUnanswered };

struct RedisConnection {
  RedisContextPtr conn;
  RedisLogin state = RedisLogin::kNotConnected;
  std::string reason;  // see above; "" when kReady
};

RedisConnection redisConnectAndAuth(const char* host, int port, const struct timeval& connectLimit,
                                    const struct timeval* commandLimit, const std::string& user,
                                    const std::string& password);

#endif  // TARVEX_REDIS_REDIS_CONNECT_H_
