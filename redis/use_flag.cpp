#include "redis/use_flag.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Sends one command on `conn` with each argument as given (blanks and percent
// signs included). No reply when the connection is absent or in error.
RedisReplyPtr sendArgv(const RedisContextPtr& conn, int argc, const char** argv,
                       const std::size_t* argvlen) {
  if (!redisUsable(conn)) return nullptr;
  return RedisReplyPtr(
      static_cast<redisReply*>(redisCommandArgv(conn.get(), argc, argv, argvlen)));
}

// One command exchange on the read (which = 1) or write (which = 2) connection:
// makes the connection when it is not usable, and when no reply comes back (the
// transport failed) reconnects and sends once more. Null when both tries failed.
RedisReplyPtr exchangeWithRetry(RedisClient& client, int which, int argc, const char** argv,
                                const std::size_t* argvlen) {
  const RedisContextPtr& conn = which == 1 ? client.readConn : client.writeConn;
  if (!redisUsable(conn)) client.connect(which);
  RedisReplyPtr reply = sendArgv(conn, argc, argv, argvlen);
  if (!reply) {
    client.connect(which);
    reply = sendArgv(conn, argc, argv, argvlen);
  }
  return reply;
}

// Reads leading decimal digits like atoi, without undefined behaviour on overflow:
// the value wraps to 32 bits.
int32_t decimalPrefix(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

}  // namespace

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
  time = decimalPrefix(std::string(timeItem->str, timeItem->len).c_str());
  return 1;
}

bool sameUseFlagHost(const char a[kUseFlagHostSize], const char b[kUseFlagHostSize]) {
  return std::memcmp(a, b, kUseFlagHostSize) == 0;
}

int RedisClient::readUseFlag(char host[kUseFlagHostSize], int32_t& time) {
  const char* argv[] = {"HMGET", kUseFlagKey, "host", "time"};
  const std::size_t argvlen[] = {5, std::strlen(kUseFlagKey), 4, 4};
  RedisReplyPtr reply = exchangeWithRetry(*this, 1, 4, argv, argvlen);
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
  RedisReplyPtr reply = exchangeWithRetry(*this, 2, 6, argv, argvlen);
  if (!reply) return -1;
  return reply->type == REDIS_REPLY_ERROR ? -1 : 1;
}
