// Wall-clock time in the forms the service uses: whole seconds for the heartbeat
// and a broken-down local date and time for the documents it sends.
//
// CZqTime holds no state; make one, call one operation, drop it. Both operations are
// safe from any thread at the same time.
#ifndef TARVEX_PLATFORM_ZQ_TIME_H_
#define TARVEX_PLATFORM_ZQ_TIME_H_

#include <cstdint>

#pragma pack(push, 1)
// Broken-down time, ten bytes. `weekday` and `millisecond` are filled but the
// service does not read them.
struct SZQ_CLOCK {
  uint16_t year;         // e.g. 2024
  uint8_t month;         // 1..12
  uint8_t day;           // 1..31
  uint8_t weekday;       // 0 = Sunday
  uint8_t hour;          // 0..23
  uint8_t minute;        // 0..59
  uint8_t second;        // 0..60
  uint16_t millisecond;  // always 0: the input has whole seconds only
};
#pragma pack(pop)
static_assert(sizeof(SZQ_CLOCK) == 10, "SZQ_CLOCK is a ten-byte record");

class CZqTime {
 public:
  // Fills *sec with the seconds since 1970-01-01 UTC (truncated to 32 bits) and,
  // when ms is not null, *ms with the milliseconds of the current second.
  void GetNow(int32_t* sec, uint16_t* ms);

  // Fills *clock with the host's local date and time (honouring TZ) of the instant
  // `sec` seconds after 1970-01-01 UTC. Negative values are dates before 1970.
  // Checks TZ (and the zone file it names) for changes on every call.
  void CovertTime(int32_t sec, SZQ_CLOCK* clock);

  // Like CovertTime, in the zone found by the last tzset() of the process (which
  // CovertTime runs): for many conversions in a row, after one tzset().
  void CovertTimeInLastZone(int32_t sec, SZQ_CLOCK* clock);
};

#endif  // TARVEX_PLATFORM_ZQ_TIME_H_
