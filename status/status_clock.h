// Clocks of the status subsystem: a steady clock in milliseconds for ages and
// paces, wall-clock seconds for the times shown to people. Thread-safe.
#ifndef TARVEX_STATUS_STATUS_CLOCK_H_
#define TARVEX_STATUS_STATUS_CLOCK_H_

#include <chrono>
#include <cstdint>
#include <ctime>

inline int64_t statusSteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline int64_t statusWallSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

#endif  // TARVEX_STATUS_STATUS_CLOCK_H_
