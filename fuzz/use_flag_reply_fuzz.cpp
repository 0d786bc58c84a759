// The reading of the owner hash's HMGET reply on reply trees decoded from arbitrary
// protocol bytes. Besides memory errors, it checks that the host buffer is left
// untouched unless the reply is accepted, and is always terminated when it is.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "fuzz/resp_replies.h"
#include "redis/use_flag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  resp::forEachReply(data, size, [](const redisReply* reply) {
    char host[kUseFlagHostSize];
    memset(host, 0x5a, sizeof(host));
    int32_t time = 12345;
    const int r = interpretUseFlagReply(reply, host, time);
    if (r == 1) {
      if (host[kUseFlagHostSize - 1] != '\0') abort();
      return;
    }
    if (r != 0 && r != -1) abort();
    if (time != 12345) abort();
    for (char c : host) {
      if (c != 0x5a) abort();
    }
  });
  return 0;
}
