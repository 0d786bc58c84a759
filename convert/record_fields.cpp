#include "convert/record_fields.h"

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

namespace {

// Appends the decimal digits of v, without leading zeros.
void appendDecimal(unsigned v, std::string* out) {
  char digits[10];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out->push_back(digits[--n]);
}

}  // namespace

void operateTimeText(int32_t seconds, std::string* out) {
  CZqTime zqTime;
  SZQ_CLOCK clock;
  zqTime.CovertTimeInLastZone(seconds, &clock);
  // "%d-%d-%d %d:%d:%d" by hand: the formatted print cost more than the clock.
  out->clear();
  appendDecimal(clock.year, out);
  out->push_back('-');
  appendDecimal(clock.month, out);
  out->push_back('-');
  appendDecimal(clock.day, out);
  out->push_back(' ');
  appendDecimal(clock.hour, out);
  out->push_back(':');
  appendDecimal(clock.minute, out);
  out->push_back(':');
  appendDecimal(clock.second, out);
}
