// RunFlag: 1 while this instance owns the work, 0 otherwise.
//
// Written 0 by the entry before the first arbitration pass, 1 by that pass when it
// takes the work, and 0 by the arbitration thread when the work is lost; read by
// the forwarding loop and the subscriber. Atomic, so every thread sees the change.
#ifndef TARVEX_HOST_RUN_FLAG_H_
#define TARVEX_HOST_RUN_FLAG_H_

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> RunFlag;

#endif  // TARVEX_HOST_RUN_FLAG_H_
