#include "redis/stream_queue.h"

#include <cstring>

#include "host/pending_queue.h"
#include "platform/zq_thread.h"
#include "redis/durable_keys.h"
#include "redis/redis_handles.h"
#include "status/status.h"

namespace {

constexpr int kMaxRetryShift = 20;  // 1 s << 20 is far above any cap

bool isText(const redisReply* r) {
  return r != nullptr && r->str != nullptr &&
         (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS);
}

bool isArray(const redisReply* r) {
  return r != nullptr && r->type == REDIS_REPLY_ARRAY && (r->elements == 0 || r->element != nullptr);
}

bool textIs(const redisReply* r, const char* word) {
  return isText(r) && r->len == std::strlen(word) && std::memcmp(r->str, word, r->len) == 0;
}

// The value after `name` in a flat name/value array, or null.
const redisReply* valueOf(const redisReply* flat, const char* name) {
  if (!isArray(flat)) return nullptr;
  for (std::size_t i = 0; i + 1 < flat->elements; i += 2) {
    if (textIs(flat->element[i], name)) return flat->element[i + 1];
  }
  return nullptr;
}

bool integerOf(const redisReply* r, long long* out) {
  if (r == nullptr || r->type != REDIS_REPLY_INTEGER) return false;
  *out = r->integer;
  return true;
}

// The HTTP statuses after which the receiver may take the same document later.
bool worthRetrying(const HttpOutcome& outcome) {
  if (outcome.kind != HttpOutcomeKind::kReply) return true;
  return outcome.status == 408 || outcome.status == 429 ||
         (outcome.status >= 500 && outcome.status < 600);
}

}  // namespace

StreamQueue::StreamQueue(std::string consumer)
    : consumer_(std::move(consumer)),
      deadLetterMaxLen_(std::to_string(redis_.options.deadLetterMaxLen)),
      retryMaxSeconds_(redis_.options.retryMaxSeconds) {
  redis_.connect(2);
}

bool StreamQueue::ensureGroup() {
  if (groupReady_) return true;
  RedisReplyPtr r =
      redis_.exchange(2, {"XGROUP", "CREATE", kCaptureStream, kForwarderGroup, "0", "MKSTREAM"});
  groupReady_ = r != nullptr && (r->type != REDIS_REPLY_ERROR || redisErrorStarts(r.get(), "BUSYGROUP"));
  return groupReady_;
}

bool StreamQueue::claimOthers() {
  RedisReplyPtr r = redis_.exchange(2, {"XAUTOCLAIM", kCaptureStream, kForwarderGroup, consumer_,
                                        "0", claimCursor_, "COUNT", "100", "JUSTID"});
  if (!isArray(r.get()) || r->elements < 2 || !isText(r->element[0])) return false;
  claimCursor_.assign(r->element[0]->str, r->element[0]->len);
  if (claimCursor_ == "0-0") phase_ = Phase::kOwnPending;
  return true;
}

std::size_t StreamQueue::read(const char* from, bool block, std::vector<std::string>* batch) {
  std::vector<std::string> args = {"XREADGROUP", "GROUP", kForwarderGroup, consumer_,
                                   "COUNT", std::to_string(kMaxBatch)};
  if (block) args.insert(args.end(), {"BLOCK", std::to_string(kStreamBlockMs)});
  args.insert(args.end(), {"STREAMS", kCaptureStream, from});
  RedisReplyPtr r = redis_.exchange(2, args);
  lastReadFailed_ = r == nullptr || r->type == REDIS_REPLY_ERROR;
  if (redisErrorStarts(r.get(), "NOGROUP")) groupReady_ = false;
  if (!isArray(r.get()) || r->elements == 0 || !isArray(r->element[0]) ||
      r->element[0]->elements < 2 || !isArray(r->element[0]->element[1])) {
    return 0;  // nothing new within the wait (a nil reply), or no usable reply
  }
  const redisReply* entries = r->element[0]->element[1];
  std::size_t gone = 0;  // entries whose text was trimmed away while pending
  for (std::size_t i = 0; i < entries->elements; ++i) {
    const redisReply* e = entries->element[i];
    if (!isArray(e) || e->elements < 2 || !isText(e->element[0])) continue;
    std::string id(e->element[0]->str, e->element[0]->len);
    const redisReply* text = valueOf(e->element[1], "text");
    if (!isText(text)) {
      unacked_.push_back(std::move(id));
      ++gone;
      continue;
    }
    ids_.push_back(std::move(id));
    texts_.emplace_back(text->str, text->len);
  }
  metricsTextsTrimmed(gone);
  *batch = texts_;
  return entries->elements;
}

std::size_t StreamQueue::take(std::vector<std::string>* batch) {
  batch->clear();
  ids_.clear();
  texts_.clear();
  if (redisSteadyMs() - statsAtMs_ >= kStreamStatsEveryMs) refreshStats();
  if (!unacked_.empty()) ack();
  if (!ensureGroup()) {
    lastReadFailed_ = true;
    return 0;
  }
  if (phase_ == Phase::kClaimOthers) {
    lastReadFailed_ = !claimOthers();
    return 0;
  }
  if (phase_ == Phase::kOwnPending) {
    const std::size_t entries = read("0", false, batch);
    if (entries == 0 && !lastReadFailed_) phase_ = Phase::kNew;
    return batch->size();
  }
  read(">", true, batch);
  return batch->size();
}

bool StreamQueue::ack() {
  unacked_.insert(unacked_.end(), ids_.begin(), ids_.end());
  ids_.clear();
  if (unacked_.empty()) return true;
  std::vector<std::string> args = {"XACK", kCaptureStream, kForwarderGroup};
  args.insert(args.end(), unacked_.begin(), unacked_.end());
  RedisReplyPtr r = redis_.exchange(2, args);
  if (r == nullptr || r->type == REDIS_REPLY_ERROR) return false;  // kept for the next take
  unacked_.clear();
  return true;
}

bool StreamQueue::deadLetter(long status, const std::string& reply) {
  const std::string statusText = std::to_string(status);
  for (const std::string& text : texts_) {
    RedisReplyPtr r = redis_.exchange(2, {"XADD", kDeadLetterStream, "MAXLEN", "~",
                                          deadLetterMaxLen_, "*", "text", text, "status",
                                          statusText, "reply", reply});
    if (r == nullptr || r->type == REDIS_REPLY_ERROR) return false;
  }
  return true;
}

void StreamQueue::settleUnsent() { ack(); }

Settled StreamQueue::settlePosted(const HttpOutcome& outcome, const std::string& reply) {
  if (outcome.kind == HttpOutcomeKind::kReply && outcome.status >= 200 && outcome.status < 300) {
    ack();
    return Settled::kDone;
  }
  if (worthRetrying(outcome)) return Settled::kRetry;
  // The receiver will never take this document. Until the dead letters are stored
  // the batch is kept, so that nothing is acknowledged unrecorded.
  if (!deadLetter(outcome.status, reply)) return Settled::kRetry;
  ack();
  return Settled::kDone;
}

int StreamQueue::retryPauseMs(int failures) const {
  int shift = failures - 1;
  if (shift < 0) shift = 0;
  if (shift > kMaxRetryShift) shift = kMaxRetryShift;
  const int64_t seconds = int64_t{1} << shift;
  return static_cast<int>(seconds < retryMaxSeconds_ ? seconds * 1000 : int64_t{retryMaxSeconds_} * 1000);
}

void StreamQueue::idle() {
  if (lastReadFailed_) ZqSleep(kStreamFailedWaitMs);
}

void StreamQueue::refreshStats() {
  statsAtMs_ = redisSteadyMs();
  RedisReplyPtr stream = redis_.exchange(2, {"XINFO", "STREAM", kCaptureStream});
  RedisReplyPtr groups = redis_.exchange(2, {"XINFO", "GROUPS", kCaptureStream});
  RedisReplyPtr dead = redis_.exchange(2, {"XLEN", kDeadLetterStream});
  long long length = 0, added = 0, pending = 0, read = 0, deadLetters = 0;
  const bool haveStream = integerOf(valueOf(stream.get(), "length"), &length) &&
                          integerOf(valueOf(stream.get(), "entries-added"), &added);
  bool haveRead = false;
  if (isArray(groups.get())) {
    for (std::size_t i = 0; i < groups->elements; ++i) {
      const redisReply* g = groups->element[i];
      if (!textIs(valueOf(g, "name"), kForwarderGroup)) continue;
      integerOf(valueOf(g, "pending"), &pending);
      haveRead = integerOf(valueOf(g, "entries-read"), &read);
    }
  }
  integerOf(dead.get(), &deadLetters);
  metricsSetDurable(length, pending, deadLetters);
  // Both trimming and reading take entries from the front: of the entries trimmed
  // so far (added - length), those beyond what the group had read were never sent.
  if (!haveStream || !haveRead) return;
  const long long lost = added - length - read;
  const uint64_t unread = lost > 0 ? static_cast<uint64_t>(lost) : 0;
  if (unread > trimmedUnread_) metricsTextsTrimmed(unread - trimmedUnread_);
  trimmedUnread_ = unread;
}
