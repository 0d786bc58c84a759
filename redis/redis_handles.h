// Owning handles for hiredis objects, and two small helpers of the Redis code: every redisContext is freed with redisFree
// and every redisReply with freeReplyObject, exactly once, on every path.
#ifndef TARVEX_REDIS_REDIS_HANDLES_H_
#define TARVEX_REDIS_REDIS_HANDLES_H_

// sds.h lacks the C++ linkage guard that hiredis.h has: included first, inside one,
// its functions (sdsfree) link. A file that included hiredis.h before this header
// may use only sds's inline functions.
extern "C" {
#include <hiredis/sds.h>
}
#include <hiredis/hiredis.h>

#include <chrono>
#include <cstdint>
#include <cstring>
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

// True for an error reply whose text begins with `prefix` ("READONLY", "NOSCRIPT").
inline bool redisErrorStarts(const redisReply* r, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return r != nullptr && r->type == REDIS_REPLY_ERROR && r->str != nullptr && r->len >= n &&
         std::memcmp(r->str, prefix, n) == 0;
}

// hiredis keeps the read buffer a large reply grew until the next bytes arrive,
// which on a quiet connection is never: a 16 MB text would stay resident twice.
// Between two replies, when the reader's buffer has grown past kShedAboveBytes, it
// is replaced by a fresh reader holding only the bytes not read yet (the start of
// the next reply), unless those are more than kShedKeepMaxBytes. Ordinary replies
// never grow the buffer that far, so this copies nothing on the busy path. Null and
// broken contexts are left alone.
constexpr std::size_t kShedAboveBytes = 1u << 20;
constexpr std::size_t kShedKeepMaxBytes = 64u << 10;

inline void redisShedReadBuffer(redisContext* c) {
  if (c == nullptr || c->err != 0 || c->reader == nullptr) return;
  redisReader* r = c->reader;
  if (r->ridx != -1 || r->reply != nullptr || r->buf == nullptr || r->pos > r->len ||
      r->len - r->pos > kShedKeepMaxBytes || sdsalloc(r->buf) <= kShedAboveBytes) {
    return;
  }
  redisReader* fresh = redisReaderCreateWithFunctions(r->fn);
  if (fresh == nullptr) return;
  fresh->maxbuf = r->maxbuf;
  fresh->privdata = r->privdata;
  if (r->len > r->pos && redisReaderFeed(fresh, r->buf + r->pos, r->len - r->pos) != REDIS_OK) {
    redisReaderFree(fresh);
    return;
  }
  redisReaderFree(r);
  c->reader = fresh;
}

#endif  // TARVEX_REDIS_REDIS_HANDLES_H_
