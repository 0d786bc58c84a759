// The capture thread of durable delivery, on every copy, owner and standbys alike:
// moves the texts the subscriber queued in PendingQueue into the stream
// tarvex:capture on a master, each text once across all copies (kCaptureScript,
// with the markers of seenMarkerKey), in batches of at most kCaptureBatch texts (and
// kMaxBatchBytes of them, a larger text alone), one script call each. A call gathers
// what arrives within kCaptureGatherMs, less when the owner's reader waits for texts
// (CaptureProgress::wanted). While the call runs the batch is out of the queue (held
// once), plus the command hiredis formats of it; it goes back to the queue's front
// when no master takes it. While a master takes them, only the queue's byte bound
// holds (a burst waits in full until captured); after a capture no master took, the
// count bound holds too, until one answers. While the copy is subscribed it notes the
// time in tarvex:alive every kAliveEveryMs, so that after a restart it reports the
// interval it was away as a subscription gap, and it keeps this copy's hash
// tarvex:copy:<host> for --status (CopyNote).
// Started once with ZQ_CreateThread (argument unused); never returns; its
// RedisClient lives on its own stack.
#ifndef TARVEX_DURABLE_CAPTURE_H_
#define TARVEX_DURABLE_CAPTURE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "config/timing.h"
#include "redis/redis_client.h"

constexpr std::size_t kCaptureBatch = 1000;  // texts per script call

// `arg`: the const TarvexOptions* of the service (outlives the thread).
void* captureThread(void* arg);

// True when no text waits to be captured: the queue is empty and no capture call
// holds a batch. Any thread.
bool captureIdle();

// Adds `texts` to the capture stream through client.writeConn in one script call
// (EVALSHA, then EVAL for a server that lacks the script; a READONLY answer moves
// the write connection to another master). True when every text was added or
// found captured already; false when no master took them (the caller keeps them
// and tries again).
bool captureTexts(RedisClient& client, const std::vector<std::string>& texts,
                  const std::string& maxLen);

#endif  // TARVEX_DURABLE_CAPTURE_H_
