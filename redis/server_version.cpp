#include "redis/server_version.h"

#include <cctype>
#include <string_view>

#include "platform/decimal.h"
#include "redis/redis_client.h"

namespace {

constexpr const char* kVersionField = "redis_version:";

// Reads the decimal number at text[*pos], moving *pos past it; false when none.
bool readNumber(const std::string& text, std::size_t* pos, long* value) {
  const std::size_t begin = *pos;
  while (*pos < text.size() && std::isdigit(static_cast<unsigned char>(text[*pos])) != 0) ++*pos;
  if (*pos == begin || *pos - begin > 9) return false;
  *value = decimalInt32(std::string_view(text).substr(begin, *pos - begin));
  return true;
}

}  // namespace

std::string redisVersionFromInfo(const std::string& info) {
  std::size_t pos = 0;
  const std::string field = kVersionField;
  while (pos < info.size()) {
    std::size_t end = info.find('\n', pos);
    if (end == std::string::npos) end = info.size();
    if (info.compare(pos, field.size(), field) == 0) {
      std::size_t valueEnd = end;
      if (valueEnd > pos && info[valueEnd - 1] == '\r') --valueEnd;
      return info.substr(pos + field.size(), valueEnd - pos - field.size());
    }
    pos = end + 1;
  }
  return "";
}

ServerVersion compareRedisVersion(const std::string& version, int major, int minor) {
  std::size_t pos = 0;
  long hasMajor = 0;
  long hasMinor = 0;
  if (!readNumber(version, &pos, &hasMajor) || pos >= version.size() || version[pos] != '.') {
    return ServerVersion::kUnknown;
  }
  ++pos;
  if (!readNumber(version, &pos, &hasMinor)) return ServerVersion::kUnknown;
  if (hasMajor != major) return hasMajor > major ? ServerVersion::kAtLeast : ServerVersion::kOlder;
  return hasMinor >= minor ? ServerVersion::kAtLeast : ServerVersion::kOlder;
}

ServerVersion checkServerVersion(RedisClient& client, int major, int minor,
                                 std::string* version, std::string* address) {
  version->clear();
  address->clear();
  if (!redisUsable(client.writeConn)) client.connect(2);
  if (!redisUsable(client.writeConn)) return ServerVersion::kUnknown;
  *address = std::string(client.masterAddr.host) + ":" + std::to_string(client.masterAddr.port);
  RedisReplyPtr reply(
      static_cast<redisReply*>(redisCommand(client.writeConn.get(), "INFO server")));
  if (reply == nullptr || reply->type != REDIS_REPLY_STRING ||
      reply->str == nullptr) {
    return ServerVersion::kUnknown;
  }
  *version = redisVersionFromInfo(std::string(reply->str, reply->len));
  return compareRedisVersion(*version, major, minor);
}
