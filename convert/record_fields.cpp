#include "convert/record_fields.h"

#include <cstdio>
#include <cstring>

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

std::string operateTimeText(int32_t seconds) {
  CZqTime zqTime;
  SZQ_CLOCK clock;
  zqTime.CovertTimeInLastZone(seconds, &clock);
  char text[80];
  std::snprintf(text, sizeof(text), "%d-%d-%d %d:%d:%d", static_cast<int>(clock.year),
                static_cast<int>(clock.month), static_cast<int>(clock.day),
                static_cast<int>(clock.hour), static_cast<int>(clock.minute),
                static_cast<int>(clock.second));
  return text;
}
