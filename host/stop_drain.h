// The main thread's side of a planned stop: what the owner does once the
// forwarding loop has left because the phase is kFinishing (host/stop_signal.h),
// before the closing line is written.
//
// Without durable delivery the queue is posted, one document of at most kMaxBatch
// texts at a time, until it is empty; a further document is begun only while one
// whole post (kHttpTimeoutMs) and kStopCloseMarginMs still fit before the stop's
// bound, the first one always. With durable delivery the batch in flight was
// settled by the loop and the rest of the stream is the successor's: it waits, up
// to kStopCloseMarginMs before the bound, until the capture thread has moved every
// text the subscriber queued into the stream. Main thread only.
#ifndef TARVEX_HOST_STOP_DRAIN_H_
#define TARVEX_HOST_STOP_DRAIN_H_

#include <string>

#include "config/sync_config.h"
#include "config/timing.h"
#include "delivery/document_poster.h"
#include "host/run_log.h"
#include "queue/forward_queue.h"

void drainAfterStop(const SyncConfig& almLogInfo, RunLog& runLog, ForwardQueue& queue,
                        DocumentPoster& delivery,
                    const std::string& urls, const std::string& headers, bool durable);

#endif  // TARVEX_HOST_STOP_DRAIN_H_
