// The forwarding loop of the active instance: drains PendingQueue in batches of at
// most 100 texts, converts each batch into one document, posts it, logs the
// document and the reply, and removes the batch whatever happened. Main thread only.
#ifndef TARVEX_HOST_FORWARDING_LOOP_H_
#define TARVEX_HOST_FORWARDING_LOOP_H_

#include <cstddef>
#include <string>

#include "config/sync_config.h"
#include "delivery/http_delivery.h"

constexpr int kIdleSleepMs = 100;  // pause when the queue is empty
constexpr const char* kJsonHeaders = "Content-Type:application/json\r\n";

// One iteration without the idle sleep; the document goes out through `delivery`.
// Returns the number of texts handled and removed; 0 means the queue was empty.
std::size_t forwardOnce(SyncConfig& almLogInfo, HttpDelivery& delivery, const std::string& urls,
                        const std::string& headers);

// Runs forwardOnce until RunFlag is 0, sleeping kIdleSleepMs when idle.
void runForwardingLoop(SyncConfig& almLogInfo, HttpDelivery& delivery,
                       const std::string& urls, const std::string& headers);

#endif  // TARVEX_HOST_FORWARDING_LOOP_H_
