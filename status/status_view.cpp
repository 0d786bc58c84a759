#include "status/status_view.h"

#include <cinttypes>
#include <cstdio>

#include "config/timing.h"
#include "convert/json_text.h"
#include "platform/clock.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

uint64_t load(const std::atomic<uint64_t>& c) { return c.load(kRelaxed); }

// One metric family: HELP and TYPE lines.
void family(std::string* out, const char* name, const char* type, const char* help) {
  *out += "# HELP ";
  *out += name;
  *out += ' ';
  *out += help;
  *out += "\n# TYPE ";
  *out += name;
  *out += ' ';
  *out += type;
  *out += '\n';
}

void sample(std::string* out, const char* name, const std::string& labels, int64_t value) {
  *out += name;
  if (!labels.empty()) *out += "{" + labels + "}";
  *out += ' ';
  *out += std::to_string(value);
  *out += '\n';
}

void sampleU(std::string* out, const char* name, const std::string& labels, uint64_t value) {
  sample(out, name, labels, static_cast<int64_t>(value));
}

void sampleSeconds(std::string* out, const char* name, uint64_t micros) {
  char text[64];
  std::snprintf(text, sizeof(text), "%s %" PRIu64 ".%06" PRIu64 "\n", name, micros / 1000000u,
                micros % 1000000u);
  *out += text;
}

std::string boundText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", seconds);
  return text;
}

const char* roleName(int32_t role) {
  switch (static_cast<ServiceRole>(role)) {
    case ServiceRole::kOwner: return "owner";
    case ServiceRole::kStandby: return "standby";
    case ServiceRole::kStarting: break;
  }
  return "starting";
}

std::string lastPostText(int64_t nowWallSeconds) {
  const int64_t at = gMetrics.lastPostTime.load(kRelaxed);
  if (at == 0) return "no post yet";
  const auto kind = static_cast<ReplyKind>(gMetrics.lastPostKind.load(kRelaxed));
  const int32_t status = gMetrics.lastPostStatus.load(kRelaxed);
  std::string text;
  if (kind == ReplyKind::kNoReply) {
    text = "last post: no reply";
  } else if (kind == ReplyKind::kConnectFailed) {
    text = "last post: connect failed";
  } else {
    text = status > 0 ? "last reply " + std::to_string(status) : "last reply";
  }
  const int64_t age = nowWallSeconds > at ? nowWallSeconds - at : 0;
  return text + " " + std::to_string(age) + " s ago";
}

}  // namespace

std::string renderMetrics() {
  std::string out;
  out.reserve(4096);
  const int32_t role = gMetrics.role.load(kRelaxed);
  family(&out, "tarvex_role", "gauge", "1 for the role this copy has now.");
  sample(&out, "tarvex_role", "role=\"owner\"", role == static_cast<int32_t>(ServiceRole::kOwner));
  sample(&out, "tarvex_role", "role=\"standby\"",
         role == static_cast<int32_t>(ServiceRole::kStandby));

  family(&out, "tarvex_texts_received_total", "counter", "Texts delivered on almTopic.");
  sampleU(&out, "tarvex_texts_received_total", "", load(gMetrics.textsReceived));
  family(&out, "tarvex_texts_filtered_total", "counter",
         "Texts dropped because they hold no \"Control\".");
  sampleU(&out, "tarvex_texts_filtered_total", "", load(gMetrics.textsFiltered));
  family(&out, "tarvex_texts_trimmed_total", "counter",
         "Queued texts dropped unsent by the queue bound.");
  sampleU(&out, "tarvex_texts_trimmed_total", "", load(gMetrics.textsTrimmed));

  family(&out, "tarvex_records_converted_total", "counter", "Records put into documents.");
  sampleU(&out, "tarvex_records_converted_total", "", load(gMetrics.recordsConverted));
  family(&out, "tarvex_records_skipped_total", "counter",
         "Records, or whole texts, that gave nothing to send, by reason.");
  for (int r = 0; r < static_cast<int>(SkipReason::kCount); ++r) {
    sampleU(&out, "tarvex_records_skipped_total",
            std::string("reason=\"") + skipReasonLabel(static_cast<SkipReason>(r)) + "\"",
            load(gMetrics.recordsSkipped[r]));
  }

  family(&out, "tarvex_documents_posted_total", "counter",
         "Documents posted, every attempt whatever its outcome.");
  sampleU(&out, "tarvex_documents_posted_total", "", load(gMetrics.documentsPosted));
  family(&out, "tarvex_replies_total", "counter", "Ends of posts, by kind.");
  for (int k = 0; k < static_cast<int>(ReplyKind::kCount); ++k) {
    sampleU(&out, "tarvex_replies_total",
            std::string("kind=\"") + replyKindLabel(static_cast<ReplyKind>(k)) + "\"",
            load(gMetrics.replies[k]));
  }

  family(&out, "tarvex_delivery_latency_seconds", "histogram",
         "Time from the start of a post to its end.");
  uint64_t cumulative = 0;
  for (int b = 0; b <= kLatencyBuckets; ++b) {
    cumulative += load(gMetrics.latencyBuckets[b]);
    const std::string le = b < kLatencyBuckets ? boundText(kLatencyBucketSeconds[b]) : "+Inf";
    sampleU(&out, "tarvex_delivery_latency_seconds_bucket", "le=\"" + le + "\"", cumulative);
  }
  sampleSeconds(&out, "tarvex_delivery_latency_seconds_sum", load(gMetrics.latencySumUs));
  sampleU(&out, "tarvex_delivery_latency_seconds_count", "", cumulative);

  family(&out, "tarvex_last_reply_status", "gauge",
         "HTTP status of the latest post's reply; 0: none yet, or no reply.");
  sample(&out, "tarvex_last_reply_status", "", gMetrics.lastPostStatus.load(kRelaxed));

  family(&out, "tarvex_last_success_timestamp_seconds", "gauge",
         "Time of the latest post with a 2xx reply, seconds since 1970; 0: none yet.");
  sample(&out, "tarvex_last_success_timestamp_seconds", "",
         gMetrics.lastSuccessTime.load(kRelaxed));

  family(&out, "tarvex_redis_reconnects_total", "counter",
         "Broken Redis connections replaced by new ones.");
  sampleU(&out, "tarvex_redis_reconnects_total", "", load(gMetrics.redisReconnects));
  family(&out, "tarvex_sentinel_discoveries_total", "counter",
         "Sentinel discoveries, by result.");
  sampleU(&out, "tarvex_sentinel_discoveries_total", "result=\"found\"",
          load(gMetrics.sentinelDiscoveries));
  sampleU(&out, "tarvex_sentinel_discoveries_total", "result=\"failed\"",
          load(gMetrics.sentinelDiscoveryFailures));

  family(&out, "tarvex_subscribed", "gauge", "1 while the almTopic subscription is confirmed.");
  sample(&out, "tarvex_subscribed", "", gMetrics.subscribed.load(kRelaxed));
  family(&out, "tarvex_subscription_gaps_total", "counter",
         "Losses of the almTopic subscription.");
  sampleU(&out, "tarvex_subscription_gaps_total", "", load(gMetrics.subscriptionGaps));
  family(&out, "tarvex_subscription_gap_seconds_total", "counter",
         "Time from each loss of the subscription to its next confirmation, gaps that ended.");
  sampleSeconds(&out, "tarvex_subscription_gap_seconds_total", load(gMetrics.gapMicros));

  family(&out, "tarvex_stream_length", "gauge", "Entries in the durable capture stream.");
  sample(&out, "tarvex_stream_length", "", gMetrics.streamLength.load(kRelaxed));
  family(&out, "tarvex_stream_pending_entries", "gauge",
         "Stream entries read and not yet acknowledged.");
  sample(&out, "tarvex_stream_pending_entries", "", gMetrics.streamPending.load(kRelaxed));
  const int64_t oldestMs = gMetrics.oldestPendingWallMs.load(kRelaxed);
  const int64_t oldestAgeMs = oldestMs > 0 ? wallSeconds() * 1000 - oldestMs : 0;
  family(&out, "tarvex_stream_oldest_pending_seconds", "gauge",
         "Age of the oldest entry read and not yet acknowledged; 0: none.");
  sample(&out, "tarvex_stream_oldest_pending_seconds", "",
         oldestAgeMs > 0 ? oldestAgeMs / 1000 : 0);
  family(&out, "tarvex_dead_letters", "gauge", "Entries in the dead-letter stream.");
  sample(&out, "tarvex_dead_letters", "", gMetrics.deadLetters.load(kRelaxed));
  family(&out, "tarvex_texts_set_aside_total", "counter",
         "Texts this copy put in the dead-letter stream.");
  sampleU(&out, "tarvex_texts_set_aside_total", "", load(gMetrics.textsSetAside));
  return out;
}

namespace {

// What keeps a durable copy from doing its job; "" when nothing does. Each figure
// stays 0 without durable delivery.
std::string durableHealthReason(int32_t role, int64_t nowSteadyMs, int64_t nowWallSeconds) {
  const int64_t captureSince = gMetrics.captureFailingSinceMs.load(kRelaxed);
  if (captureSince != 0 && nowSteadyMs - captureSince >= kCaptureFailingMs) {
    return "no master has taken the captures for " +
           std::to_string((nowSteadyMs - captureSince) / 1000) + " s";
  }
  if (role != static_cast<int32_t>(ServiceRole::kOwner)) return "";
  const int64_t groupSince = gMetrics.groupFailingSinceMs.load(kRelaxed);
  if (groupSince != 0 && nowSteadyMs - groupSince >= kGroupFailingMs) {
    return "cannot read or claim from the consumer group for " +
           std::to_string((nowSteadyMs - groupSince) / 1000) + " s";
  }
  const int64_t oldestMs = gMetrics.oldestPendingWallMs.load(kRelaxed);
  if (oldestMs != 0 && nowWallSeconds * 1000 - oldestMs > kOldestPendingMs) {
    return "oldest unacknowledged entry is " +
           std::to_string((nowWallSeconds * 1000 - oldestMs) / 1000) + " s old";
  }
  return "";
}

}  // namespace

HealthAnswer healthAnswer(int64_t nowSteadyMs, int64_t nowWallSeconds) {
  const int32_t role = gMetrics.role.load(kRelaxed);
  std::string reason;
  if (role == static_cast<int32_t>(ServiceRole::kOwner)) {
    const int64_t at = gMetrics.lastPostTime.load(kRelaxed);
    const auto kind = static_cast<ReplyKind>(gMetrics.lastPostKind.load(kRelaxed));
    if (gMetrics.subscribed.load(kRelaxed) == 0) {
      reason = "not subscribed to almTopic";
    } else if (at != 0 && nowWallSeconds - at <= kHealthPostWindowSeconds &&
               !postDelivered(kind)) {
      reason = lastPostText(nowWallSeconds);
    }
  } else if (role == static_cast<int32_t>(ServiceRole::kStandby)) {
    const int32_t result = gMetrics.ownerHashResult.load(kRelaxed);
    const int64_t readMs = gMetrics.ownerHashReadMs.load(kRelaxed);
    if (result == -2) {
      reason = "owner hash not read yet";
    } else if (result == -1) {
      reason = "owner hash cannot be read";
    } else if (nowSteadyMs - readMs > kStandbyReadStaleMs) {
      reason = "owner hash not read for " + std::to_string((nowSteadyMs - readMs) / 1000) + " s";
    }
  } else {
    reason = "starting";
  }
  if (reason.empty()) reason = durableHealthReason(role, nowSteadyMs, nowWallSeconds);
  HealthAnswer answer;
  answer.httpStatus = reason.empty() ? 200 : 503;
  answer.json = std::string("{\"status\":\"") + (reason.empty() ? "ok" : "failing") +
                "\",\"role\":\"" + roleName(role) + "\"";
  if (!reason.empty()) answer.json += ",\"reason\":" + jsonString(reason);
  answer.json += "}\n";
  return answer;
}

std::string statusLine(int64_t nowWallSeconds) {
  const int32_t role = gMetrics.role.load(kRelaxed);
  if (role == static_cast<int32_t>(ServiceRole::kOwner)) {
    const uint64_t documents = load(gMetrics.documentsPosted);
    return "owner: " + groupThousands(documents) + (documents == 1 ? " document, " : " documents, ") +
           lastPostText(nowWallSeconds);
  }
  if (role == static_cast<int32_t>(ServiceRole::kStandby)) {
    const int32_t result = gMetrics.ownerHashResult.load(kRelaxed);
    if (result == 1) {
      return "standby: owner " + ownerHostSeen() + ", heartbeat " +
             std::to_string(gMetrics.ownerHeartbeat.load(kRelaxed));
    }
    if (result == -1) return "standby: owner hash cannot be read";
    if (result == -2) return "standby: reading the owner hash";
    return "standby: no owner recorded";
  }
  return "starting";
}
