// The forwarding loop of the active instance: takes batches of at most 100 texts
// from its queue, converts each batch into one document, posts it, logs the
// document and the reply, and lets the queue settle the batch (the in-memory queue
// removes it whatever happened; the durable one may ask for the same document to be
// posted again, after a pause). Main thread only.
#ifndef TARVEX_HOST_FORWARDING_LOOP_H_
#define TARVEX_HOST_FORWARDING_LOOP_H_

#include <cstddef>
#include <string>

#include "config/sync_config.h"
#include "delivery/http_delivery.h"
#include "host/forward_queue.h"

constexpr const char* kJsonHeaders = "Content-Type:application/json\r\n";
constexpr int kRetryWaitStepMs = 100;  // RunFlag is looked at this often while pausing

// One iteration without the idle wait; the document goes out through `delivery`.
// A batch the queue wants retried is posted again, after each pause, until it is
// settled or RunFlag drops to 0 or a stop finishes (receivingStopped(); the batch
// then stays with the queue). Returns the number of texts taken; 0 means the queue
// was empty.
std::size_t forwardOnce(SyncConfig& almLogInfo, ForwardQueue& queue, HttpDelivery& delivery,
                        const std::string& urls, const std::string& headers);

// Runs forwardOnce until RunFlag is 0 or a stop finishes, letting the queue idle
// when it was empty.
void runForwardingLoop(SyncConfig& almLogInfo, ForwardQueue& queue, HttpDelivery& delivery,
                       const std::string& urls, const std::string& headers);

#endif  // TARVEX_HOST_FORWARDING_LOOP_H_
