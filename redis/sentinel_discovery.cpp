// Sentinel mode: before every connect, one Sentinel is asked for the current
// masters and their slaves, and masterAddrs / slaveAddrs are rebuilt from it.
#include <sys/time.h>

#include <cstdlib>
#include <cstring>

#include "redis/redis_client.h"
#include "redis/sentinel_reply.h"
#include "telemetry/metrics.h"

namespace {

// Sets the command time-out on `c` again before a query.
void applyTimeout(const RedisClient& client, redisContext* c) {
  struct timeval tv;
  if (client.commandTimeval(&tv)) redisSetTimeout(c, tv);
}

// Sends one query on a usable connection. Null unless the reply is an array.
RedisReplyPtr arrayReply(redisContext* c, RedisReplyPtr reply) {
  if (reply == nullptr || c->err != 0 || reply->type != REDIS_REPLY_ARRAY) return nullptr;
  return reply;
}

}  // namespace

int RedisClient::discoverFromSentinels() {
  if (sentinelAddrs.empty()) return 0;
  sentinelConn.reset();
  const int32_t count = static_cast<int32_t>(sentinelAddrs.size());
  for (int32_t attempt = 0; attempt < count; ++attempt) {
    // The cursor keeps its place across discoveries, so they rotate through the
    // Sentinels even when every one answers.
    if (sentinelCursor < 0 || sentinelCursor >= count - 1) {
      sentinelCursor = 0;
    } else {
      ++sentinelCursor;
    }
    if (!RedisClient::parseAddress(sentinelAddrs[sentinelCursor], &sentinelAddr)) continue;
    RedisContextPtr c = connectTo(sentinelAddr, RedisPeer::kSentinel);
    if (redisUsable(c)) {
      sentinelConn = std::move(c);
      break;
    }
  }
  if (!redisUsable(sentinelConn)) {
    metricsSentinelDiscovery(false);
    return -1;
  }
  const int masters = queryMasters();
  querySlaves();  // asked even when the masters query failed, for the previous name
  metricsSentinelDiscovery(masters == 1);
  return masters == 1 ? 1 : -1;
}

int RedisClient::queryMasters() {
  if (!redisUsable(sentinelConn)) return -1;
  redisContext* c = sentinelConn.get();
  applyTimeout(*this, c);
  RedisReplyPtr reply = arrayReply(
      c, RedisReplyPtr(static_cast<redisReply*>(redisCommand(c, "SENTINEL masters"))));
  if (reply == nullptr) return -1;  // masterAddrs keeps its contents
  masterAddrs = walkSentinelMasters(reply.get(), &masterAddr, masterName);
  return masterAddrs.empty() ? -1 : 1;
}

int RedisClient::querySlaves() {
  if (!redisUsable(sentinelConn)) return -1;
  redisContext* c = sentinelConn.get();
  applyTimeout(*this, c);
  // The name comes from a Sentinel's reply: it goes out as one argument, never as
  // part of the format text, so a "%" or a space in it cannot change the command.
  RedisReplyPtr reply = arrayReply(
      c, RedisReplyPtr(static_cast<redisReply*>(
             redisCommand(c, "SENTINEL slaves %s", masterName))));
  if (reply == nullptr) return -1;  // slaveAddrs keeps its contents
  slaveAddrs = walkSentinelSlaves(reply.get(), &readAddr);
  return slaveAddrs.empty() ? -1 : 1;
}
