// The arbitration hash useflag:tarvex: the owner's host name ("host") and the time
// of its last heartbeat ("time"), always written and read as a pair.
//
// RedisClient::readUseFlag and RedisClient::writeUseFlag (redis_client.h) exchange
// the pair with Redis; interpretUseFlagReply is the pure reading of an HMGET reply,
// usable on any reply object (including hand-decoded ones).
#ifndef TARVEX_REDIS_USE_FLAG_H_
#define TARVEX_REDIS_USE_FLAG_H_

#include <hiredis/hiredis.h>

#include <cstdint>

#include "redis/redis_client.h"

constexpr const char* kUseFlagKey = "useflag:tarvex";
constexpr std::size_t kUseFlagHostMax = kUseFlagHostSize - 1;  // bytes of a host name kept

// Reads the reply of "HMGET useflag:tarvex host time".
//  -1: no reply, an error reply, or anything but an array of exactly two elements;
//   0: either element has no text (missing field or missing hash);
//   1: both present: `host` is zero-filled and receives the first 127 bytes of the
//      "host" text (bytes after an embedded NUL included, so such a value never
//      compares equal to a real host name); `time` is the "time" text read as a
//      decimal integer (leading blanks and sign, digits up to the first non-digit,
//      none gives 0; out-of-range values clamp to the 32-bit range).
// `host` and `time` are left unchanged unless 1 is returned. Never reads past the
// reply's stated lengths.
int interpretUseFlagReply(const redisReply* reply, char host[kUseFlagHostSize], int32_t& time);

// Compare-and-delete of the hash, one script on a master: deletes useflag:tarvex
// only while its "host" field is exactly ARGV[1]; returns 1 when it deleted, else 0.
constexpr const char* kReleaseUseFlagScript =
    "if redis.call('HGET', KEYS[1], 'host') == ARGV[1] then\n"
    "  return redis.call('DEL', KEYS[1])\n"
    "end\n"
    "return 0\n";

// Runs kReleaseUseFlagScript with `host` (NUL-terminated) through client's write
// connection (EVAL). 1: the hash named `host` and is gone; 0: it was left (another
// host, or no hash); -1: no usable reply.
int releaseUseFlag(RedisClient& client, const char* host);

// Byte-wise equality of two host buffers as filled by get_host_name and readUseFlag
// (each kUseFlagHostSize bytes, zero-filled after the name).
bool sameUseFlagHost(const char a[kUseFlagHostSize], const char b[kUseFlagHostSize]);

#endif  // TARVEX_REDIS_USE_FLAG_H_
