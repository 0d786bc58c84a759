#include "platform/zq_time.h"

#include <sys/time.h>
#include <time.h>

#include <cstring>

void CZqTime::GetNow(int32_t* sec, uint16_t* ms) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  if (sec != nullptr) *sec = static_cast<int32_t>(tv.tv_sec);
  if (ms != nullptr) *ms = static_cast<uint16_t>(tv.tv_usec / 1000);
}

void CZqTime::CovertTime(int32_t sec, SZQ_CLOCK* clock) {
  if (clock == nullptr) return;
  // Pick up a TZ that changed since the last call. This stats the zone file, which
  // costs more than the conversion itself.
  tzset();
  CovertTimeInLastZone(sec, clock);
}

void CZqTime::CovertTimeInLastZone(int32_t sec, SZQ_CLOCK* clock) {
  if (clock == nullptr) return;
  std::memset(clock, 0, sizeof(*clock));
  time_t t = static_cast<time_t>(sec);
  struct tm tmv;
  if (localtime_r(&t, &tmv) == nullptr) return;
  clock->year = static_cast<uint16_t>(tmv.tm_year + 1900);
  clock->month = static_cast<uint8_t>(tmv.tm_mon + 1);
  clock->day = static_cast<uint8_t>(tmv.tm_mday);
  clock->weekday = static_cast<uint8_t>(tmv.tm_wday);
  clock->hour = static_cast<uint8_t>(tmv.tm_hour);
  clock->minute = static_cast<uint8_t>(tmv.tm_min);
  clock->second = static_cast<uint8_t>(tmv.tm_sec);
}
