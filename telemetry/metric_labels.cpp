#include "telemetry/metrics.h"

const char* replyKindLabel(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::k2xx: return "2xx";
    case ReplyKind::k4xx: return "4xx";
    case ReplyKind::k5xx: return "5xx";
    case ReplyKind::kOther: return "other";
    case ReplyKind::kNoReply: return "no_reply";
    case ReplyKind::kConnectFailed: return "connect_failed";
    case ReplyKind::kCount: break;
  }
  return "";
}

const char* skipReasonLabel(SkipReason reason) {
  switch (reason) {
    case SkipReason::kUnreadableText: return "unreadable_text";
    case SkipReason::kNotObject: return "not_object";
    case SkipReason::kNotControl: return "not_control";
    case SkipReason::kUnknownAppSystem: return "unknown_app_system";
    case SkipReason::kUnknownStation: return "unknown_station";
    case SkipReason::kCount: break;
  }
  return "";
}

bool postDelivered(ReplyKind kind) {
  return kind == ReplyKind::k2xx;
}

std::string groupThousands(uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string formatSeconds(int64_t ms) {
  if (ms < 0) ms = 0;
  return std::to_string(ms / 1000) + "." + std::to_string((ms % 1000) / 100);
}
