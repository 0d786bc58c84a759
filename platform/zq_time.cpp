#include "platform/zq_time.h"

#include <sys/time.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

// tzset() reads the zone file again on every call (a stat of /etc/localtime at
// least), which cost about a tenth of the service's CPU while converting. It is
// called when TZ changed since the last call, and otherwise at most once per
// kZoneRecheckMs, so that a new /etc/localtime is still noticed.
constexpr int64_t kZoneRecheckMs = 1000;

std::mutex zoneMutex;
// Guarded by zoneMutex:
bool zoneRead = false;   // tzset() ran at least once
bool zoneHadTz = false;  // TZ was set at that call
std::string zoneTz;      // ... to this text
int64_t zoneReadMs = 0;  // steady ms of that call

void refreshZone() {
  const char* tz = std::getenv("TZ");
  const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
  std::lock_guard<std::mutex> lock(zoneMutex);
  const bool sameTz = (tz != nullptr) == zoneHadTz && (tz == nullptr || zoneTz == tz);
  if (zoneRead && sameTz && nowMs - zoneReadMs < kZoneRecheckMs) return;
  tzset();
  zoneRead = true;
  zoneHadTz = tz != nullptr;
  zoneTz = tz != nullptr ? tz : "";
  zoneReadMs = nowMs;
}

}  // namespace

void CZqTime::GetNow(int32_t* sec, uint16_t* ms) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  if (sec != nullptr) *sec = static_cast<int32_t>(tv.tv_sec);
  if (ms != nullptr) *ms = static_cast<uint16_t>(tv.tv_usec / 1000);
}

void CZqTime::CovertTime(int32_t sec, SZQ_CLOCK* clock) {
  if (clock == nullptr) return;
  std::memset(clock, 0, sizeof(*clock));
  refreshZone();
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
