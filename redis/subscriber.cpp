#include "redis/subscriber.h"

#include <hiredis/hiredis.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/timing.h"
#include "platform/clock.h"
#include "platform/process_ctrl.h"
#include "platform/zq_thread.h"
#include "redis/redis_client.h"
#include "redis/redis_handles.h"
#include "telemetry/metrics.h"

namespace {

constexpr const char kSubscribeCommand[] = "SUBSCRIBE";

// True for the element types that carry a text in `str`.
bool isText(const redisReply* e) {
  return e != nullptr && e->str != nullptr &&
         (e->type == REDIS_REPLY_STRING || e->type == REDIS_REPLY_STATUS);
}

}  // namespace

std::atomic<int32_t> SubscribeAlways{0};

namespace {
std::atomic<bool> gSubscriptionHeld{false};  // a confirmed subscription is being read
}  // namespace

bool subscriptionHeld() { return gSubscriptionHeld.load(); }

std::size_t queueControlTexts(const redisReply* reply, TextSink& sink) {
  if (reply == nullptr || reply->type != REDIS_REPLY_ARRAY || reply->element == nullptr) return 0;
  std::size_t queued = 0;
  for (std::size_t i = 0; i < reply->elements; ++i) {
    const redisReply* e = reply->element[i];
    if (isText(e)) {
      // The text ends at its first NUL byte; bytes after it are not looked at.
      const std::size_t len = strnlen(e->str, e->len);
      if (std::string_view(e->str, len).find(kControlMarker) != std::string_view::npos) {
        sink.put(e->str, len);
        ++queued;
      }
    }
    if (!sink.receiving()) break;
  }
  metricsTextSeen(queued > 0);  // one delivery: one text received, kept or filtered
  return queued;
}

namespace {

// True when the last read on c failed only because the read time-out elapsed with
// nothing received; the error is then cleared, so that c can be used again (no byte
// was consumed, the reader's state is whole).
bool quietTimeout(redisContext* c) {
  if (c->err != REDIS_ERR_IO || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
  c->err = 0;
  c->errstr[0] = '\0';
  return true;
}

// The answer to a PING on a subscribed connection: ["pong", ""].
bool isPong(const redisReply* r) {
  return r != nullptr && r->type == REDIS_REPLY_ARRAY && r->elements >= 1 &&
         r->element[0]->type == REDIS_REPLY_STRING && r->element[0]->len == 4 &&
         std::memcmp(r->element[0]->str, "pong", 4) == 0;
}

}  // namespace

int RedisClient::subscribeAndReceive(std::vector<std::string> channels, TextSink& sink) {
  if (channels.empty()) return -1;
  if (!redisUsable(readConn)) connect(1);

  std::vector<const char*> argv;
  std::vector<std::size_t> argvlen;
  argv.reserve(channels.size() + 1);
  argvlen.reserve(channels.size() + 1);
  argv.push_back(kSubscribeCommand);
  argvlen.push_back(sizeof(kSubscribeCommand) - 1);
  for (const std::string& name : channels) {
    argv.push_back(name.data());
    argvlen.push_back(name.size());
  }

  RedisReplyPtr confirmation;
  if (readConn != nullptr) {
    confirmation.reset(static_cast<redisReply*>(redisCommandArgv(
        readConn.get(), static_cast<int>(argv.size()), argv.data(), argvlen.data())));
  }
  // The confirmation's content is not examined: only that one arrived.
  const int status =
      (confirmation == nullptr || confirmation->type == REDIS_REPLY_ERROR) ? -1 : 0;
  confirmation.reset();
  if (status == -1) {
    connect(1);
    return -1;
  }
  metricsSubscribed();
  gSubscriptionHeld.store(true);

  bool pinged = false;  // a PING went out after a quiet time-out and no reply came yet
  while (sink.receiving()) {
    void* raw = nullptr;
    if (redisGetReply(readConn.get(), &raw) != REDIS_OK && !pinged &&
        SubscribeAlways.load() != 0 && quietTimeout(readConn.get())) {
      // Durable delivery: a quiet channel is not a lost subscription. A PING on the
      // subscribed connection tells a live server (its pong comes within the
      // time-out) from a dead or frozen one, without dropping the subscription.
      pinged = redisAppendCommand(readConn.get(), "PING") == REDIS_OK;
      if (pinged) continue;
    }
    if (readConn->err != 0) {
      // Dropped connection or read time-out: readConn keeps its error state, and
      // the next call replaces it.
      RedisReplyPtr partial(static_cast<redisReply*>(raw));
      gSubscriptionHeld.store(false);
      metricsSubscriptionLost();
      return 0;
    }
    pinged = false;  // anything that arrives, the pong included, shows the server alive
    RedisReplyPtr delivery(static_cast<redisReply*>(raw));
    redisShedReadBuffer(readConn.get());  // before the text is copied into the queue
    if (!isPong(delivery.get())) queueControlTexts(delivery.get(), sink);
  }
  gSubscriptionHeld.store(false);
  readConn.reset();
  return 0;
}

uint32_t readSpreadFor(const char* hostName) {
  constexpr uint32_t kFnvOffsetBasis = 2166136261u;
  constexpr uint32_t kFnvPrime = 16777619u;
  uint32_t hash = kFnvOffsetBasis;
  for (const char* p = hostName; p != nullptr && *p != '\0'; ++p) {
    hash ^= static_cast<unsigned char>(*p);
    hash *= kFnvPrime;
  }
  return hash;
}

void* subscriberThread(void* arg) {
  const SubscriberStart& start = *static_cast<const SubscriberStart*>(arg);
  TextSink& sink = *start.sink;
  // Lives on this thread's stack for the life of the process: the loop never ends.
  RedisClient redisOpt(*start.options);
  if (SubscribeAlways.load() != 0) {
    char host[kUseFlagHostSize] = {};
    get_host_name(host);
    redisOpt.readOffset = readSpreadFor(host);
  }
  redisOpt.connect(1);
  const std::vector<std::string> channel = {kOperationLogChannel};
  for (;;) {
    if (sink.stopped()) {
      ZqSleep(kResubscribePauseMs);  // a planned stop: nothing is subscribed again
      continue;
    }
    const int64_t began = steadyMs();
    const int status = redisOpt.subscribeAndReceive(channel, sink);
    const int64_t held = steadyMs() - began;
    if (status == 0 && SubscribeAlways.load() != 0 &&
        held >= kQuickResubscribeHeldMs) {
      continue;
    }
    ZqSleep(kResubscribePauseMs);
  }
  return nullptr;
}
