#include "redis/use_flag.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/decimal.h"

namespace {

// Sends one command on `conn` with each argument as given (blanks and percent
// signs included). No reply when the connection is absent or in error.
RedisReplyPtr sendArgv(const RedisContextPtr& conn, int argc, const char** argv,
                       const std::size_t* argvlen) {
  if (!redisUsable(conn)) return nullptr;
  return RedisReplyPtr(
      static_cast<redisReply*>(redisCommandArgv(conn.get(), argc, argv, argvlen)));
}

// True for an error reply of a former master that is now a replica.
bool isReadOnlyError(const RedisReplyPtr& reply) {
  static constexpr char kReadOnly[] = "READONLY";
  return reply != nullptr && reply->type == REDIS_REPLY_ERROR && reply->str != nullptr &&
         reply->len >= sizeof(kReadOnly) - 1 &&
         std::memcmp(reply->str, kReadOnly, sizeof(kReadOnly) - 1) == 0;
}

// The address text of the master the write connection reached.
std::string writeAddressText(const RedisClient& client) {
  return std::string(client.masterAddr.host) + ":" + std::to_string(client.masterAddr.port);
}

// One command exchange on the read (which = 1) or write (which = 2) connection:
// makes the connection when it is not usable, and when no reply comes back (the
// transport failed) reconnects and sends once more. A write answered READONLY
// reached a demoted master: the write connection is made again, passing over that
// address, and the command sent once more (in Sentinel mode the reconnect runs a
// fresh discovery first). Null when both tries failed.
RedisReplyPtr exchangeWithRetry(RedisClient& client, int which, int argc, const char** argv,
                                const std::size_t* argvlen) {
  const RedisContextPtr& conn = which == 1 ? client.readConn : client.writeConn;
  if (!redisUsable(conn)) client.connect(which);
  RedisReplyPtr reply = sendArgv(conn, argc, argv, argvlen);
  if (!reply) {
    client.connect(which);
    reply = sendArgv(conn, argc, argv, argvlen);
  } else if (which == 2 && isReadOnlyError(reply)) {
    const std::string demoted = writeAddressText(client);
    if (client.mode == kRedisModeSentinel) client.discoverFromSentinels();
    client.connectWrite(&demoted);
    reply = sendArgv(conn, argc, argv, argvlen);
  }
  return reply;
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
  time = decimalInt32(std::string_view(timeItem->str, timeItem->len));
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
