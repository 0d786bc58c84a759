// Placeholder until Sentinel discovery lands: finds nothing.
#include "redis/redis_client.h"

int RedisClient::discoverFromSentinels() { return sentinelAddrs.empty() ? 0 : -1; }
int RedisClient::queryMasters() { return -1; }
int RedisClient::querySlaves() { return -1; }
