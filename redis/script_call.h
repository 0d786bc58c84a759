// Runs one of the service's Lua scripts: EVALSHA first, and EVAL with the script's
// text when the server does not hold it (NOSCRIPT). The arguments after the
// script (numkeys, keys, arguments) are passed as given, without copying them.
// Returns the reply as RedisClient::exchange does (null when no reply came).
#ifndef TARVEX_REDIS_SCRIPT_CALL_H_
#define TARVEX_REDIS_SCRIPT_CALL_H_

#include <cstddef>
#include <string>
#include <vector>

#include "redis/redis_client.h"

// One argument: bytes and their length.
struct ScriptArg {
  const char* data;
  std::size_t size;
};

inline ScriptArg scriptArg(const std::string& s) { return {s.data(), s.size()}; }
ScriptArg scriptArg(const char* s);

RedisReplyPtr callScript(RedisClient& client, int which, const char* sha, const char* script,
                         const std::vector<ScriptArg>& args);

#endif  // TARVEX_REDIS_SCRIPT_CALL_H_
