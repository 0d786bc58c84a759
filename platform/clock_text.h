// Calendar times as an operator reads them, in the host's local time zone.
// Thread-safe (localtime_r).
#ifndef TARVEX_PLATFORM_CLOCK_TEXT_H_
#define TARVEX_PLATFORM_CLOCK_TEXT_H_

#include <cstdint>
#include <string>

// "YYYY-MM-DD HH:MM:SS" of `wallSeconds` (seconds since 1970).
std::string localDateTimeText(int64_t wallSeconds);
// "HH:MM:SS" of `wallSeconds`.
std::string localClockText(int64_t wallSeconds);

#endif  // TARVEX_PLATFORM_CLOCK_TEXT_H_
