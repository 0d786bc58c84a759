// What the forwarding loop does with a part of a batch after one post, with durable
// delivery (the in-memory queue settles every batch whatever its post did):
//   kAccepted     a 2xx, whatever the reply body holds: acknowledge;
//   kRetry        no reply, a refused or reset connection, a TLS failure, a time-out
//                 once the request was sent, 408, 429 or a 5xx: the receiver may take
//                 the same document later; post it again after a pause;
//   kCredentials  401 or 407: the credentials are wrong for every document, so the
//                 part is retried like kRetry but never set aside;
//   kTooLarge     413, or a time-out while the request was still being sent: split
//                 the part; a single text answered 413 is set aside, a single text
//                 that timed out is retried;
//   kRejected     any other status (another 4xx, a 1xx or 3xx as the final answer):
//                 the receiver will never take this document; split it so that only
//                 the texts it rejects on their own are set aside.
#ifndef TARVEX_HOST_POST_VERDICT_H_
#define TARVEX_HOST_POST_VERDICT_H_

#include "delivery/http_outcome.h"

enum class PostVerdict { kAccepted, kRetry, kCredentials, kTooLarge, kRejected };

PostVerdict postVerdictOf(const HttpOutcome& outcome);

#endif  // TARVEX_HOST_POST_VERDICT_H_
