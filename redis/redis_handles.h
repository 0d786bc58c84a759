// Owning handles for hiredis objects: every redisContext is freed with redisFree
// and every redisReply with freeReplyObject, exactly once, on every path.
#ifndef TARVEX_REDIS_REDIS_HANDLES_H_
#define TARVEX_REDIS_REDIS_HANDLES_H_

#include <hiredis/hiredis.h>

#include <memory>

struct RedisContextDeleter {
  void operator()(redisContext* c) const {
    if (c != nullptr) redisFree(c);
  }
};
using RedisContextPtr = std::unique_ptr<redisContext, RedisContextDeleter>;

struct RedisReplyDeleter {
  void operator()(redisReply* r) const {
    if (r != nullptr) freeReplyObject(r);
  }
};
using RedisReplyPtr = std::unique_ptr<redisReply, RedisReplyDeleter>;

// A connection is usable when it is present and has no error recorded.
inline bool redisUsable(const RedisContextPtr& c) { return c != nullptr && c->err == 0; }

#endif  // TARVEX_REDIS_REDIS_HANDLES_H_
