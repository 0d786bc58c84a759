#include "operator/fleet_reader.h"

#include <algorithm>

#include "config/timing.h"
#include "durable/copy_note.h"
#include "durable/durable_keys.h"
#include "platform/clock.h"
#include "platform/decimal.h"
#include "platform/zq_thread.h"
#include "redis/reply_fields.h"
#include "redis/use_flag.h"

namespace {

constexpr int kScanCount = 1000;  // keys asked for per SCAN step

// "from-to from-to ..." of a copy hash's gaps field.
std::vector<GapRecord> parseGaps(const std::string& text) {
  std::vector<GapRecord> gaps;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string one = text.substr(at, end - at);
    const std::size_t dash = one.find('-');
    if (dash != std::string::npos) {
      gaps.push_back({decimalInt32(one.substr(0, dash)), decimalInt32(one.substr(dash + 1))});
    }
    at = end + 1;
  }
  return gaps;
}

void readCopies(RedisClient& client, FleetSnapshot* s) {
  std::vector<std::string> keys;
  std::string cursor = "0";
  do {
    RedisReplyPtr r =
        client.exchange(1, {"SCAN", cursor, "MATCH", std::string(kCopyKeyPrefix) + "*", "COUNT",
                            std::to_string(kScanCount)});
    if (!replyIsArray(r.get()) || r->elements < 2 || !replyIsArray(r->element[1])) return;
    cursor = replyText(r->element[0], "0");
    for (std::size_t i = 0; i < r->element[1]->elements; ++i) {
      keys.push_back(replyText(r->element[1]->element[i]));
    }
  } while (cursor != "0");
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  for (const std::string& key : keys) {
    RedisReplyPtr h = client.exchange(1, {"HGETALL", key});
    if (!replyIsArray(h.get()) || h->elements == 0) continue;  // expired meanwhile
    CopyReport c;
    c.host = replyText(replyField(h.get(), "host"), key.substr(std::string(kCopyKeyPrefix).size()));
    c.role = replyText(replyField(h.get(), "role"), "?");
    c.version = replyText(replyField(h.get(), "version"), "?");
    c.subscribed = replyText(replyField(h.get(), "subscribed")) == "1";
    c.startedWall = replyInteger(replyField(h.get(), "started"), 0);
    c.reportedWall = replyInteger(replyField(h.get(), "time"), 0);
    c.gaps = parseGaps(replyText(replyField(h.get(), "gaps")));
    s->copies.push_back(std::move(c));
  }
  const std::string owner = s->ownerRead == 1 ? s->ownerHost : "";
  std::stable_sort(s->copies.begin(), s->copies.end(),
                   [&](const CopyReport& a, const CopyReport& b) {
                     return (a.host == owner) > (b.host == owner);
                   });
}

void readBacklog(RedisClient& client, FleetSnapshot* s) {
  RedisReplyPtr len = client.exchange(1, {"XLEN", kCaptureStream});
  s->streamLength = replyInteger(len.get());
  std::string lastRead;  // the group's last delivered id
  RedisReplyPtr groups = client.exchange(1, {"XINFO", "GROUPS", kCaptureStream});
  if (replyIsArray(groups.get())) {
    for (std::size_t i = 0; i < groups->elements; ++i) {
      const redisReply* g = groups->element[i];
      if (replyText(replyField(g, "name")) != kForwarderGroup) continue;
      s->pending = replyInteger(replyField(g, "pending"));
      s->unread = replyInteger(replyField(g, "lag"));  // Redis 7; nil when not known
      lastRead = replyText(replyField(g, "last-delivered-id"));
    }
  }
  if (lastRead.empty() && s->streamLength >= 0) {
    // No group yet (no owner has read): everything kept is unread.
    s->pending = 0;
    s->unread = s->streamLength;
    lastRead = "0-0";
  }
  int64_t oldestMs = 0;
  RedisReplyPtr summary = client.exchange(1, {"XPENDING", kCaptureStream, kForwarderGroup});
  if (replyIsArray(summary.get()) && summary->elements >= 2) {
    oldestMs = streamIdMillis(replyText(summary->element[1]));
  }
  if (!lastRead.empty() && s->unread != 0) {
    RedisReplyPtr next =
        client.exchange(1, {"XRANGE", kCaptureStream, "(" + lastRead, "+", "COUNT", "1"});
    if (replyIsArray(next.get()) && next->elements > 0 && replyIsArray(next->element[0]) &&
        next->element[0]->elements > 0) {
      const int64_t ms = streamIdMillis(replyText(next->element[0]->element[0]));
      if (ms > 0 && (oldestMs == 0 || ms < oldestMs)) oldestMs = ms;
    }
  }
  if (oldestMs > 0) s->oldestWaitingMs = std::max<int64_t>(0, s->nowMs - oldestMs);
}

void readDeadLetters(RedisClient& client, FleetSnapshot* s) {
  RedisReplyPtr len = client.exchange(1, {"XLEN", kDeadLetterStream});
  s->deadLetters = replyInteger(len.get());
  if (s->deadLetters <= 0) return;
  RedisReplyPtr newest =
      client.exchange(1, {"XREVRANGE", kDeadLetterStream, "+", "-", "COUNT", "1"});
  if (!replyIsArray(newest.get()) || newest->elements == 0 || !replyIsArray(newest->element[0]) ||
      newest->element[0]->elements < 2) {
    return;
  }
  const redisReply* e = newest->element[0];
  s->newestDeadLetterWall = replyInteger(replyField(e->element[1], "time"), 0);
  if (s->newestDeadLetterWall == 0) {
    s->newestDeadLetterWall = streamIdMillis(replyText(e->element[0])) / 1000;
  }
}

// Redis's clock, milliseconds; 0 when it did not answer.
int64_t redisNowMs(RedisClient& client) {
  RedisReplyPtr t = client.exchange(1, {"TIME"});
  if (!replyIsArray(t.get()) || t->elements < 2) return 0;
  return replyInteger(t->element[0], 0) * 1000 + replyInteger(t->element[1], 0) / 1000;
}

}  // namespace

FleetSnapshot readFleet(RedisClient& client, int watchMs) {
  FleetSnapshot s;
  s.durable = client.options.durable == 1;
  s.nowMs = redisNowMs(client);
  s.answered = s.nowMs > 0;
  s.redisAddress = std::string(client.readAddr.host) + ":" + std::to_string(client.readAddr.port);
  if (!s.answered) return s;

  char host[kUseFlagHostSize] = {};
  int32_t beat = 0;
  s.ownerRead = client.readUseFlag(host, beat);
  if (s.ownerRead == 1) {
    s.ownerHost = host;
    s.heartbeatWall = beat;
    const int64_t start = steadyMs();
    while (steadyMs() - start < watchMs) {
      ZqSleep(kHeartbeatPollMs);
      char again[kUseFlagHostSize] = {};
      int32_t beatAgain = 0;
      if (client.readUseFlag(again, beatAgain) != 1) continue;
      if (beatAgain != beat || !sameUseFlagHost(host, again)) {
        s.ownerHost = again;
        s.heartbeatWall = beatAgain;
        s.heartbeatMoving = true;
        break;
      }
    }
    s.watchedMs = steadyMs() - start;
    s.nowMs = std::max(s.nowMs, redisNowMs(client));
  }
  if (!s.durable) return s;
  readCopies(client, &s);
  readBacklog(client, &s);
  readDeadLetters(client, &s);
  return s;
}
