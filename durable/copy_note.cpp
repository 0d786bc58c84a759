#include "durable/copy_note.h"

#include <ctime>
#include <vector>

#include "config/timing.h"
#include "platform/clock.h"
#include "redis/script_call.h"
#include "telemetry/metrics.h"

#ifndef TARVEX_VERSION
#define TARVEX_VERSION "unknown"
#endif

namespace {

// Taken while the program loads, before main: the process's start.
const int64_t gProcessStartWall = wallSeconds();

const char* roleText(int32_t role) {
  switch (static_cast<ServiceRole>(role)) {
    case ServiceRole::kOwner:
      return "owner";
    case ServiceRole::kStandby:
      return "standby";
    case ServiceRole::kStarting:
      break;
  }
  return "starting";
}

std::string gapsText(int64_t now) {
  std::string text;
  for (const GapRecord& g : metricsRecentGaps(now - kRecentGapSeconds)) {
    if (!text.empty()) text += ' ';
    text += std::to_string(g.fromWall) + "-" + std::to_string(g.toWall);
  }
  return text;
}

}  // namespace

CopyNote::CopyNote(std::string host) : host_(std::move(host)) {}

int64_t CopyNote::processStartWall() { return gProcessStartWall; }

void CopyNote::refresh(RedisClient& client, int64_t nowSteadyMs) {
  const int32_t role = gMetrics.role.load();
  const int32_t subscribed = gMetrics.subscribed.load();
  if (writtenAtMs_ != 0 && nowSteadyMs - writtenAtMs_ < kCopyNoteEveryMs && role == role_ &&
      subscribed == subscribed_) {
    return;
  }
  const int64_t now = wallSeconds();
  const std::string key = kCopyKeyPrefix + host_;
  const std::string life = std::to_string(kCopyNoteLifeSeconds);
  const std::string started = std::to_string(gProcessStartWall);
  const std::string time = std::to_string(now);
  const std::string gaps = gapsText(now);
  const std::vector<ScriptArg> args = {scriptArg("1"),
                                       scriptArg(key),
                                       scriptArg(life),
                                       scriptArg("host"),
                                       scriptArg(host_),
                                       scriptArg("role"),
                                       scriptArg(roleText(role)),
                                       scriptArg("version"),
                                       scriptArg(TARVEX_VERSION),
                                       scriptArg("subscribed"),
                                       scriptArg(subscribed == 1 ? "1" : "0"),
                                       scriptArg("started"),
                                       scriptArg(started),
                                       scriptArg("time"),
                                       scriptArg(time),
                                       scriptArg("gaps"),
                                       scriptArg(gaps)};
  RedisReplyPtr reply = callScript(client, 2, kCopyNoteScriptSha, kCopyNoteScript, args);
  if (reply == nullptr || reply->type == REDIS_REPLY_ERROR) return;
  writtenAtMs_ = nowSteadyMs;
  role_ = role;
  subscribed_ = subscribed;
}
