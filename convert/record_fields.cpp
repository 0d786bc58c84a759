#include "convert/record_fields.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/zq_time.h"

std::string memberText(const Json::Value& record, const char* name) {
  const Json::Value* v = record.find(name, name + std::strlen(name));
  if (v == nullptr) return std::string();
  switch (v->type()) {
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      if (!v->getString(&begin, &end)) return std::string();
      return std::string(begin, end);
    }
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
      return v->asString();
    default:
      return std::string();
  }
}

int32_t decimalInt32(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Digits beyond the 32-bit range only need to be consumed, not counted.
  const int64_t limit = -static_cast<int64_t>(std::numeric_limits<int32_t>::min());
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= limit) value = value * 10 + (*p - '0');
  }
  if (negative) return value >= limit ? std::numeric_limits<int32_t>::min()
                                      : static_cast<int32_t>(-value);
  return value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                      : static_cast<int32_t>(value);
}

std::string operateTimeText(int32_t seconds) {
  CZqTime zqTime;
  SZQ_CLOCK clock;
  zqTime.CovertTime(seconds, &clock);
  char text[80];
  std::snprintf(text, sizeof(text), "%d-%d-%d %d:%d:%d", static_cast<int>(clock.year),
                static_cast<int>(clock.month), static_cast<int>(clock.day),
                static_cast<int>(clock.hour), static_cast<int>(clock.minute),
                static_cast<int>(clock.second));
  return text;
}
