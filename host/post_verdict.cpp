#include "host/post_verdict.h"

PostVerdict postVerdictOf(const HttpOutcome& outcome) {
  if (outcome.kind == HttpOutcomeKind::kTimeout && outcome.sendIncomplete) {
    return PostVerdict::kTooLarge;
  }
  if (outcome.kind != HttpOutcomeKind::kReply) return PostVerdict::kRetry;
  const long status = outcome.status;
  if (status >= 200 && status < 300) return PostVerdict::kAccepted;
  if (status == 401 || status == 407) return PostVerdict::kCredentials;
  if (status == 413) return PostVerdict::kTooLarge;
  if (status == 408 || status == 429 || (status >= 500 && status < 600)) return PostVerdict::kRetry;
  return PostVerdict::kRejected;
}
