#include "redis/sentinel_reply.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/decimal.h"

namespace {

// Which reply is being walked: the key words and the health test differ.
enum class EntryKind { kMaster, kSlave };

// Size of the text an accepted address is formatted into ("%s:%d").
constexpr std::size_t kAddressInfoSize = 128;

// True for the reply types that carry a text in str/len.
bool isText(const redisReply* r) {
  return r != nullptr && (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS) &&
         r->str != nullptr;
}

bool textEquals(const redisReply* r, const char* word) {
  const std::size_t n = std::strlen(word);
  return static_cast<std::size_t>(r->len) == n && std::memcmp(r->str, word, n) == 0;
}

std::string textOf(const redisReply* r) {
  return std::string(r->str, static_cast<std::size_t>(r->len));
}

int32_t decimalValue(const redisReply* r) {
  return decimalInt32(std::string_view(r->str, static_cast<std::size_t>(r->len)));
}

// Reads one entry into addr/name. Returns true and sets *out when it is accepted.
bool walkEntry(const redisReply* entry, EntryKind kind, RedisAddress* addr, char* name,
               std::string* out) {
  if (entry == nullptr || entry->type != REDIS_REPLY_ARRAY || entry->element == nullptr) {
    return false;
  }
  std::vector<std::string> flags;
  bool hostHeld = true;  // false after an "ip" value too long for addr->host
  for (std::size_t i = 0; i < entry->elements; ++i) {
    const redisReply* key = entry->element[i];
    if (!isText(key) || i + 1 >= entry->elements) continue;
    const redisReply* value = entry->element[i + 1];
    if (!isText(value)) continue;
    if (textEquals(key, "ip")) {
      const std::string host = textOf(value);
      hostHeld = host.size() <= kMaxRedisHost;
      if (hostHeld) {
        std::memset(addr->host, 0, sizeof(addr->host));
        std::memcpy(addr->host, host.data(), host.size());
      }
    } else if (textEquals(key, "port")) {
      addr->port = decimalValue(value);
    } else if (textEquals(key, "flags")) {
      flags.push_back(textOf(value));
    } else if (kind == EntryKind::kMaster && textEquals(key, "name")) {
      const std::string text = textOf(value);
      const std::size_t n = text.size() < kMaxRedisHost ? text.size() : kMaxRedisHost;
      std::memset(name, 0, kMaxRedisHost + 1);
      std::memcpy(name, text.data(), n);
    }
  }
  if (flags.empty() || !hostHeld) return false;
  const bool healthy = kind == EntryKind::kMaster ? sentinelMasterFlagsHealthy(flags[0])
                                                  : sentinelSlaveFlagsHealthy(flags[0]);
  if (!healthy) return false;
  char info[kAddressInfoSize];
  std::snprintf(info, sizeof(info), "%s:%d", addr->host, static_cast<int>(addr->port));
  *out = info;
  return true;
}

std::vector<std::string> walkReply(const redisReply* reply, EntryKind kind, RedisAddress* addr,
                                   char* name) {
  std::vector<std::string> accepted;
  if (reply == nullptr || reply->type != REDIS_REPLY_ARRAY || reply->element == nullptr) {
    return accepted;
  }
  for (std::size_t i = 0; i < reply->elements; ++i) {
    std::string info;
    if (walkEntry(reply->element[i], kind, addr, name, &info)) accepted.push_back(info);
  }
  return accepted;
}

}  // namespace

bool sentinelMasterFlagsHealthy(const std::string& flags) {
  // Any one of the characters of "o_down" rejects the master, not only the word.
  return flags.find_first_of("o_down") == std::string::npos;
}

bool sentinelSlaveFlagsHealthy(const std::string& flags) {
  return flags.find("s_down") == std::string::npos;
}

std::vector<std::string> walkSentinelMasters(const redisReply* reply, RedisAddress* addr,
                                             char (&name)[kMaxRedisHost + 1]) {
  return walkReply(reply, EntryKind::kMaster, addr, name);
}

std::vector<std::string> walkSentinelSlaves(const redisReply* reply, RedisAddress* addr) {
  return walkReply(reply, EntryKind::kSlave, addr, nullptr);
}
