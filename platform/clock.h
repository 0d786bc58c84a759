// The service's one clock: every pacing, deadline and age is measured with
// steadyMs() (monotonic, never steps), every time shown or stored with wallSeconds()
// or wallMs() (the calendar clock). Thread-safe.
#ifndef TARVEX_PLATFORM_CLOCK_H_
#define TARVEX_PLATFORM_CLOCK_H_

#include <chrono>
#include <cstdint>

// Milliseconds of the monotonic clock (from an arbitrary start).
inline int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Seconds since 1970 of the calendar clock.
inline int64_t wallSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Milliseconds since 1970 of the calendar clock.
inline int64_t wallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

#endif  // TARVEX_PLATFORM_CLOCK_H_
