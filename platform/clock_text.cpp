#include "platform/clock_text.h"

#include <ctime>

namespace {

std::string localText(int64_t wallSeconds, const char* format) {
  const time_t t = static_cast<time_t>(wallSeconds);
  tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof(text), format, &local);
  return text;
}

}  // namespace

std::string localDateTimeText(int64_t wallSeconds) { return localText(wallSeconds, "%Y-%m-%d %H:%M:%S"); }

std::string localClockText(int64_t wallSeconds) { return localText(wallSeconds, "%H:%M:%S"); }
