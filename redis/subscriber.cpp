// Placeholder until the subscription lands.
#include "redis/subscriber.h"

#include "redis/redis_client.h"
#include "platform/zq_thread.h"

int RedisClient::subscribeAndReceive(std::vector<std::string> channels) {
  return channels.empty() ? -1 : 0;
}

void* subscriberThread(void*) {
  for (;;) ZqSleep(kResubscribePauseMs);
  return nullptr;
}
