// Which Redis version a server runs, from its "INFO server" reply
// ("redis_version:6.0.16"), and whether it is at least a given major.minor.
//
// checkServerVersion asks the master that `client`'s write connection reaches
// (making that connection when it is not usable, once; in Sentinel mode after a
// discovery). The answer is kAtLeast or kOlder only when a server answered INFO with
// a readable redis_version; no answer, an error reply (an ACL user without +info)
// or a reply without a version give kUnknown, and the caller carries on as before.
// Runs on the client's thread; nothing else is shared.
#ifndef TARVEX_REDIS_SERVER_VERSION_H_
#define TARVEX_REDIS_SERVER_VERSION_H_

#include <string>

class RedisClient;

enum class ServerVersion { kAtLeast, kOlder, kUnknown };

// Streams read through XAUTOCLAIM, which came with Redis 6.2.
constexpr int kDurableRedisMajor = 6;
constexpr int kDurableRedisMinor = 2;

// The redis_version field of an INFO reply; "" when there is none.
std::string redisVersionFromInfo(const std::string& info);

// kAtLeast or kOlder for a version text "major.minor[.patch...]"; kUnknown when it
// does not begin with two numbers.
ServerVersion compareRedisVersion(const std::string& version, int major, int minor);

// Asks the write connection's master; *version gets its redis_version ("" when
// unknown) and *address the master's "host:port".
ServerVersion checkServerVersion(RedisClient& client, int major, int minor,
                                 std::string* version, std::string* address);

#endif  // TARVEX_REDIS_SERVER_VERSION_H_
