// Placeholder until the arbitration lands.
#include "redis/redis_client.h"

int RedisClient::readUseFlag(char host[kUseFlagHostSize], int32_t& time) {
  host[0] = '\0';
  time = 0;
  return 0;
}
int RedisClient::writeUseFlag(const char*, int32_t) { return 1; }
