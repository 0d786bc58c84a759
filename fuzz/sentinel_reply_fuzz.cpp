// The Sentinel reply walks on reply trees decoded from arbitrary protocol bytes.
// Each reply is walked as a masters reply and as a slaves reply, with the address
// and name carried over between replies as the discovery does. Besides memory
// errors, it checks that every accepted address is "host:port" with a host that
// fits an address and a decimal port, and that the name stays terminated.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/resp_replies.h"
#include "redis/sentinel_reply.h"

namespace {

void checkAddresses(const std::vector<std::string>& found) {
  for (const std::string& a : found) {
    const size_t colon = a.rfind(':');
    if (colon == std::string::npos || colon > kMaxRedisHost) abort();
    size_t digits = colon + 1;
    if (digits < a.size() && a[digits] == '-') ++digits;  // ports are read like atoi
    if (digits == a.size()) abort();
    for (size_t i = digits; i < a.size(); ++i) {
      if (a[i] < '0' || a[i] > '9') abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RedisAddress addr;
  memset(&addr, 0, sizeof(addr));
  char name[kMaxRedisHost + 1] = {};
  resp::forEachReply(data, size, [&](const redisReply* reply) {
    checkAddresses(walkSentinelMasters(reply, &addr, name));
    if (memchr(name, '\0', sizeof(name)) == nullptr) abort();
    if (memchr(addr.host, '\0', sizeof(addr.host)) == nullptr) abort();
    checkAddresses(walkSentinelSlaves(reply, &addr));
    if (memchr(addr.host, '\0', sizeof(addr.host)) == nullptr) abort();
  });
  return 0;
}
