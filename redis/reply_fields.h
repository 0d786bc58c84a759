// Reading hiredis replies of the stream and hash commands: texts, integers, the
// value of a field in a flat field/value array, and the milliseconds of a stream
// entry id. Pure functions over replies that may be null or of any type; they
// never read past a reply's stated lengths.
#ifndef TARVEX_REDIS_REPLY_FIELDS_H_
#define TARVEX_REDIS_REPLY_FIELDS_H_

#include <hiredis/hiredis.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

inline bool replyIsText(const redisReply* r) {
  return r != nullptr && r->str != nullptr &&
         (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS);
}

inline bool replyIsArray(const redisReply* r) {
  return r != nullptr && r->type == REDIS_REPLY_ARRAY &&
         (r->elements == 0 || r->element != nullptr);
}

// The reply's text, or `otherwise` when it is no text.
inline std::string replyText(const redisReply* r, const std::string& otherwise = "") {
  return replyIsText(r) ? std::string(r->str, r->len) : otherwise;
}

// True when the reply is the text `word`, exactly.
inline bool replyTextIs(const redisReply* r, const char* word) {
  return replyIsText(r) && r->len == std::strlen(word) && std::memcmp(r->str, word, r->len) == 0;
}

// The reply as an integer (an integer reply, or a text of digits), or `otherwise`.
inline int64_t replyInteger(const redisReply* r, int64_t otherwise = -1) {
  if (r != nullptr && r->type == REDIS_REPLY_INTEGER) return r->integer;
  if (!replyIsText(r) || r->len == 0) return otherwise;
  int64_t n = 0;
  for (std::size_t i = 0; i < r->len; ++i) {
    if (r->str[i] < '0' || r->str[i] > '9') return otherwise;
    n = n * 10 + (r->str[i] - '0');
  }
  return n;
}

// The value after the text `name` in a flat name/value array, or null.
inline const redisReply* replyField(const redisReply* flat, const char* name) {
  if (!replyIsArray(flat)) return nullptr;
  const std::size_t n = std::strlen(name);
  for (std::size_t i = 0; i + 1 < flat->elements; i += 2) {
    const redisReply* k = flat->element[i];
    if (replyIsText(k) && k->len == n && std::memcmp(k->str, name, n) == 0) {
      return flat->element[i + 1];
    }
  }
  return nullptr;
}

// Milliseconds part of a stream entry id "<ms>-<seq>"; 0 when it has none.
inline int64_t streamIdMillis(std::string_view id) {
  int64_t ms = 0;
  for (std::size_t i = 0; i < id.size() && id[i] >= '0' && id[i] <= '9'; ++i) {
    ms = ms * 10 + (id[i] - '0');
  }
  return ms;
}

#endif  // TARVEX_REDIS_REPLY_FIELDS_H_
