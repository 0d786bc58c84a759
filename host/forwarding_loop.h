// The forwarding loop of the active instance: takes batches from its queue,
// converts each into one document, posts it, logs the document and the reply, and
// settles it with the queue.
//
// In-memory queue (keepsFailed() false): each batch is posted once, whatever the
// answer, exactly as the service always did.
//
// Durable queue: a batch is delivered in parts, the first being the whole batch,
// each posted until it is settled (the verdicts are those of host/post_verdict.h):
//   - accepted, or nothing to send: the part is acknowledged;
//   - rejected, or too large: a part of several texts is replaced by its two halves,
//     posted in order; a single text is set aside (ForwardQueue::setAside, whose
//     failure is retried as a write, never as a post) and then acknowledged;
//   - retry and credentials: the same part again after the queue's pause;
//   - a part still failing with retry verdicts after kPoisonFailures attempts over at
//     least retryMaxMs() is split too (halves inherit its failures), and a single
//     text in that state is set aside once it failed twice after the receiver had
//     accepted a document posted after that text first failed: a poison document. While every document fails
//     (an outage) nothing is set aside. 401 and 407 never set anything aside;
//   - a text whose conversion fails is isolated like a rejected one and set aside
//     with status 0 and the reason; a conversion that fails as a whole is retried.
// RunFlag dropping to 0 during a pause leaves the rest of the batch with the queue
// (a later owner takes it). Main thread only.
#ifndef TARVEX_HOST_FORWARDING_LOOP_H_
#define TARVEX_HOST_FORWARDING_LOOP_H_

#include <cstddef>
#include <string>

#include "config/sync_config.h"
#include "delivery/document_poster.h"
#include "host/run_log.h"
#include "queue/forward_queue.h"

constexpr const char* kJsonHeaders = "Content-Type:application/json\r\n";
constexpr int kPoisonFailures = 5;     // failed attempts before a part counts as poison
// Reply text kept with a text that was set aside because its conversion failed.
constexpr const char* kConversionFailedReason = "conversion failed";

// One iteration without the idle wait; the documents go out through `delivery`.
// A pause ends early, leaving the rest of the batch with the queue, when RunFlag
// drops to 0 or a stop finishes (receivingStopped()). Returns the number of texts
// taken; 0 means the queue was empty.
std::size_t forwardOnce(const SyncConfig& almLogInfo, RunLog& runLog, ForwardQueue& queue,
                        DocumentPoster& delivery,
                        const std::string& urls, const std::string& headers);

// Runs forwardOnce until RunFlag is 0 or a stop finishes, letting the queue idle
// when it was empty.
void runForwardingLoop(const SyncConfig& almLogInfo, RunLog& runLog, ForwardQueue& queue,
                        DocumentPoster& delivery,
                       const std::string& urls, const std::string& headers);

#endif  // TARVEX_HOST_FORWARDING_LOOP_H_
