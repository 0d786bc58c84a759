// Turns fuzz bytes into reply trees with hiredis's own protocol reader, as the
// service receives them from a peer.
#ifndef TARVEX_FUZZ_RESP_REPLIES_H_
#define TARVEX_FUZZ_RESP_REPLIES_H_

#include <hiredis/hiredis.h>
#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "redis/redis_handles.h"

namespace resp {

// Largest aggregate count accepted from the input. hiredis allocates the element
// array of an aggregate from its stated count before any element arrives, so a big
// count only measures the allocator; such inputs are skipped.
constexpr long long kMaxAggregate = 4096;
// Replies decoded from one input at most.
constexpr int kMaxReplies = 16;

// True when no "*<count>" in the bytes states more than kMaxAggregate elements.
inline bool aggregatesSmall(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != '*') continue;
    long long count = 0;
    for (size_t j = i + 1; j < size && data[j] >= '0' && data[j] <= '9'; ++j) {
      count = count * 10 + (data[j] - '0');
      if (count > kMaxAggregate) return false;
    }
  }
  return true;
}

struct ReaderDeleter {
  void operator()(redisReader* r) const {
    if (r != nullptr) redisReaderFree(r);
  }
};
using ReaderPtr = std::unique_ptr<redisReader, ReaderDeleter>;

// Calls fn(const redisReply*) for every complete reply in the bytes, in order,
// until the bytes run out or the reader reports a protocol error.
template <typename Fn>
void forEachReply(const uint8_t* data, size_t size, Fn fn) {
  if (!aggregatesSmall(data, size)) return;
  ReaderPtr reader(redisReaderCreate());
  if (reader == nullptr) return;
  if (redisReaderFeed(reader.get(), reinterpret_cast<const char*>(data), size) != REDIS_OK) return;
  for (int i = 0; i < kMaxReplies; ++i) {
    void* raw = nullptr;
    if (redisReaderGetReply(reader.get(), &raw) != REDIS_OK || raw == nullptr) return;
    RedisReplyPtr reply(static_cast<redisReply*>(raw));
    fn(reply.get());
  }
}

}  // namespace resp

#endif  // TARVEX_FUZZ_RESP_REPLIES_H_
