// The timing of a planned stop (SIGTERM or SIGINT), in one place.
//
// The owner that gets a stop signal releases useflag:tarvex, then reads it every
// kHandoverReadMs until it names another host or StopHandoverSeconds (tarvex.ini
// [Service]) have passed since the signal. Once a successor is named it goes on
// receiving and forwarding for kHandoverOverlapMs, so that the successor's
// subscription is up, then stops receiving and posts what it holds. The whole stop
// ends at the latest StopHandoverSeconds + kStopBoundExtraMs after the signal: the
// signal watcher ends the process then, whatever is still running.
#ifndef TARVEX_HOST_STOP_TIMING_H_
#define TARVEX_HOST_STOP_TIMING_H_

#include <cstdint>

#include "delivery/http_post.h"

constexpr int kHandoverReadMs = 1000;     // hash read period while handing over, ms
constexpr int kHandoverOverlapMs = 1000;  // receiving goes on this long after a successor, ms
constexpr int64_t kStopBoundExtraMs = 16000;  // whole stop <= StopHandoverSeconds + this, ms
constexpr int kStopCloseMarginMs = 500;   // left for the closing line before the bound, ms
constexpr int kStopCapturePollMs = 20;    // durable: how often the capture's progress is read, ms

// The bound leaves room, after the longest wait and the overlap, for one whole post.
static_assert(kStopBoundExtraMs >= kHandoverOverlapMs + kHttpTimeoutMs,
              "a stop must leave time for the overlap and one post");

#endif  // TARVEX_HOST_STOP_TIMING_H_
