// HttpOutcome: how one exchange with the receiving platform ended, for the callers
// that must tell a 2xx from a failure (retries, metrics, health) without looking
// at the reply body, which is the receiver's own text.
#ifndef TARVEX_DELIVERY_HTTP_OUTCOME_H_
#define TARVEX_DELIVERY_HTTP_OUTCOME_H_

#include <string>

enum class HttpOutcomeKind {
  kReply,          // a complete reply arrived; `status` holds its code
  kConnectFailed,  // refused, or the name did not resolve
  kTlsFailed,      // certificate or handshake failure
  kTimeout,        // the whole-exchange limit ran out
  kNoReply,        // closed, reset, cut off, oversized, or not sendable (scheme, URL)
};

struct HttpOutcome {
  HttpOutcomeKind kind = HttpOutcomeKind::kNoReply;
  long status = 0;    // HTTP status of a kReply, else 0
  std::string error;  // libcurl's error text when not kReply; never holds secrets
  bool sendIncomplete = false;  // kTimeout before the whole request body was sent
  bool replyCut = false;        // kReply whose body was longer than the delivery keeps
  bool reasonPrinted = false;   // the delivery already wrote `error` to stderr
};

#endif  // TARVEX_DELIVERY_HTTP_OUTCOME_H_
