#include "redis/use_flag.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/decimal.h"

int interpretUseFlagReply(const redisReply* reply, char host[kUseFlagHostSize], int32_t& time) {
  if (reply == nullptr || reply->type == REDIS_REPLY_ERROR) return -1;
  if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 2 || reply->element == nullptr) {
    return -1;
  }
  const redisReply* hostItem = reply->element[0];
  const redisReply* timeItem = reply->element[1];
  if (hostItem == nullptr || hostItem->str == nullptr) return 0;
  if (timeItem == nullptr || timeItem->str == nullptr) return 0;

  std::memset(host, 0, kUseFlagHostSize);
  const std::size_t n = hostItem->len < kUseFlagHostMax ? hostItem->len : kUseFlagHostMax;
  std::memcpy(host, hostItem->str, n);
  // The time text is cut at its stated length, so a missing terminator is harmless.
  time = decimalInt32(std::string_view(timeItem->str, timeItem->len));
  return 1;
}

bool sameUseFlagHost(const char a[kUseFlagHostSize], const char b[kUseFlagHostSize]) {
  return std::memcmp(a, b, kUseFlagHostSize) == 0;
}

int RedisClient::readUseFlag(char host[kUseFlagHostSize], int32_t& time) {
  const char* argv[] = {"HMGET", kUseFlagKey, "host", "time"};
  const std::size_t argvlen[] = {5, std::strlen(kUseFlagKey), 4, 4};
  RedisReplyPtr reply = exchange(1, 4, argv, argvlen);
  if (!reply) return -1;
  return interpretUseFlagReply(reply.get(), host, time);
}

int RedisClient::writeUseFlag(const char* host, int32_t time) {
  char timeText[16];
  std::snprintf(timeText, sizeof(timeText), "%d", static_cast<int>(time));
  const char* name = host != nullptr ? host : "";
  const char* argv[] = {"HMSET", kUseFlagKey, "host", name, "time", timeText};
  const std::size_t argvlen[] = {5, std::strlen(kUseFlagKey), 4, std::strlen(name), 4,
                                 std::strlen(timeText)};
  RedisReplyPtr reply = exchange(2, 6, argv, argvlen);
  if (!reply) return -1;
  return reply->type == REDIS_REPLY_ERROR ? -1 : 1;
}

int releaseUseFlag(RedisClient& client, const char* host) {
  const std::string name = host != nullptr ? host : "";
  RedisReplyPtr reply = client.exchange(2, {"EVAL", kReleaseUseFlagScript, "1", kUseFlagKey, name});
  if (reply == nullptr || reply->type != REDIS_REPLY_INTEGER) return -1;
  return reply->integer == 1 ? 1 : 0;
}
