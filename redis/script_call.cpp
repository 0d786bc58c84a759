#include "redis/script_call.h"

#include <cstring>

ScriptArg scriptArg(const char* s) { return {s, std::strlen(s)}; }

RedisReplyPtr callScript(RedisClient& client, int which, const char* sha, const char* script,
                         const std::vector<ScriptArg>& args) {
  std::vector<const char*> argv;
  std::vector<std::size_t> argvlen;
  argv.reserve(args.size() + 2);
  argvlen.reserve(args.size() + 2);
  argv.push_back("EVALSHA");
  argvlen.push_back(7);
  argv.push_back(sha);
  argvlen.push_back(std::strlen(sha));
  for (const ScriptArg& a : args) {
    argv.push_back(a.data);
    argvlen.push_back(a.size);
  }
  RedisReplyPtr reply =
      client.exchange(which, static_cast<int>(argv.size()), argv.data(), argvlen.data());
  if (redisErrorStarts(reply.get(), "NOSCRIPT")) {
    argv[0] = "EVAL";
    argvlen[0] = 4;
    argv[1] = script;
    argvlen[1] = std::strlen(script);
    reply = client.exchange(which, static_cast<int>(argv.size()), argv.data(), argvlen.data());
  }
  return reply;
}
