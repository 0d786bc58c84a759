#include "redis/subscriber.h"

#include <hiredis/hiredis.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/pending_queue.h"
#include "host/run_flag.h"
#include "platform/zq_thread.h"
#include "redis/redis_client.h"
#include "redis/redis_handles.h"
#include "status/status.h"

namespace {

constexpr const char kSubscribeCommand[] = "SUBSCRIBE";

// True for the element types that carry a text in `str`.
bool isText(const redisReply* e) {
  return e != nullptr && e->str != nullptr &&
         (e->type == REDIS_REPLY_STRING || e->type == REDIS_REPLY_STATUS);
}

}  // namespace

std::atomic<int32_t> SubscribeAlways{0};

bool subscriberActive() { return SubscribeAlways.load() != 0 || RunFlag.load() != 0; }

std::size_t queueControlTexts(const redisReply* reply) {
  if (reply == nullptr || reply->type != REDIS_REPLY_ARRAY || reply->element == nullptr) return 0;
  std::size_t queued = 0;
  for (std::size_t i = 0; i < reply->elements; ++i) {
    const redisReply* e = reply->element[i];
    if (isText(e)) {
      // The text ends at its first NUL byte; bytes after it are not looked at.
      const std::size_t len = strnlen(e->str, e->len);
      if (std::string_view(e->str, len).find(kControlMarker) != std::string_view::npos) {
        pendingAppend(e->str, len);
        ++queued;
      }
    }
    if (!subscriberActive()) break;
  }
  metricsTextSeen(queued > 0);  // one delivery: one text received, kept or filtered
  return queued;
}

int RedisClient::subscribeAndReceive(std::vector<std::string> channels) {
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

  while (subscriberActive()) {
    void* raw = nullptr;
    if (redisGetReply(readConn.get(), &raw) != REDIS_OK) {
      // Dropped connection or read time-out: readConn keeps its error state, and
      // the next call replaces it.
      RedisReplyPtr partial(static_cast<redisReply*>(raw));
      metricsSubscriptionLost();
      return 0;
    }
    RedisReplyPtr delivery(static_cast<redisReply*>(raw));
    queueControlTexts(delivery.get());
  }
  readConn.reset();
  return 0;
}

void* subscriberThread(void*) {
  // Lives on this thread's stack for the life of the process: the loop never ends.
  RedisClient redisOpt;
  redisOpt.connect(1);
  const std::vector<std::string> channel = {kOperationLogChannel};
  for (;;) {
    redisOpt.subscribeAndReceive(channel);
    ZqSleep(kResubscribePauseMs);
  }
  return nullptr;
}
