#include "durable/stream_queue.h"

#include <algorithm>
#include <cstring>

#include "config/timing.h"
#include "durable/capture_progress.h"
#include "durable/durable_keys.h"
#include "platform/clock.h"
#include "platform/zq_thread.h"
#include "queue/pending_queue.h"
#include "redis/redis_handles.h"
#include "redis/reply_fields.h"
#include "redis/script_call.h"
#include "telemetry/metrics.h"

namespace {

constexpr int kMaxRetryShift = 20;  // 1 s << 20 is far above any cap

bool integerOf(const redisReply* r, long long* out) {
  if (r == nullptr || r->type != REDIS_REPLY_INTEGER) return false;
  *out = r->integer;
  return true;
}

}  // namespace

StreamQueue::StreamQueue(std::string consumer) : StreamQueue(std::move(consumer), loadedTarvexOptions()) {}

StreamQueue::StreamQueue(std::string consumer, const TarvexOptions& options)
    : redis_(options),
      consumer_(std::move(consumer)),
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

bool StreamQueue::claimStep(int64_t minIdleMs, bool* done, bool* claimed) {
  RedisReplyPtr r = redis_.exchange(
      2, {"XAUTOCLAIM", kCaptureStream, kForwarderGroup, consumer_, std::to_string(minIdleMs),
          claimCursor_, "COUNT", std::to_string(kMaxBatch), "JUSTID"});
  if (!replyIsArray(r.get()) || r->elements < 2 || !replyIsText(r->element[0])) return false;
  claimCursor_.assign(r->element[0]->str, r->element[0]->len);
  *done = claimCursor_ == "0-0";
  *claimed = replyIsArray(r->element[1]) && r->element[1]->elements > 0;
  return true;
}

std::size_t StreamQueue::takeEntries(const redisReply* entries) {
  std::size_t gone = 0;  // entries whose text was trimmed away while pending
  for (std::size_t i = 0; i < entries->elements; ++i) {
    const redisReply* e = entries->element[i];
    if (!replyIsArray(e) || e->elements < 1 || !replyIsText(e->element[0])) continue;
    std::string id(e->element[0]->str, e->element[0]->len);
    const redisReply* text = e->elements >= 2 ? replyField(e->element[1], "text") : nullptr;
    if (!replyIsText(text)) {
      unacked_.push_back(std::move(id));
      ++gone;
      continue;
    }
    aheadBytes_ += text->len;
    ahead_.push_back({std::move(id), std::string(text->str, text->len)});
  }
  metricsTextsTrimmed(gone);
  return entries->elements;
}

std::size_t StreamQueue::handOut(std::vector<std::string>* batch) {
  std::size_t bytes = 0;
  while (!ahead_.empty() && batch->size() < kMaxBatch && bytes < kMaxBatchBytes) {
    Entry& e = ahead_.front();
    bytes += e.text.size();
    aheadBytes_ -= e.text.size();
    ids_.push_back(std::move(e.id));
    batch->push_back(std::move(e.text));
    ahead_.pop_front();
  }
  return batch->size();
}

std::size_t StreamQueue::readScript(bool pending, std::size_t most, std::size_t budget) {
  const std::string mostText = std::to_string(most);
  const std::string budgetText = std::to_string(budget);
  std::vector<ScriptArg> args = {scriptArg("1"), scriptArg(kCaptureStream),
                                 scriptArg(kForwarderGroup), scriptArg(consumer_),
                                 scriptArg(pending ? "0" : ">"), scriptArg(mostText),
                                 scriptArg(budgetText)};
  // The acknowledgements still owed go with the read: one round trip for both.
  const std::size_t acks = std::min(unacked_.size(), kMaxAcksPerRead);
  for (std::size_t i = 0; i < acks; ++i) args.push_back(scriptArg(unacked_[i]));
  RedisReplyPtr r = callScript(redis_, 2, kReadScriptSha, kReadScript, args);
  if (r != nullptr && r->type == REDIS_REPLY_ERROR && r->str != nullptr &&
      std::strstr(r->str, "NOGROUP") != nullptr) {
    groupReady_ = false;
  }
  lastReadFailed_ = !replyIsArray(r.get()) || r->elements < 2 || !replyIsArray(r->element[1]);
  if (lastReadFailed_) return 0;
  unacked_.erase(unacked_.begin(), unacked_.begin() + static_cast<std::ptrdiff_t>(acks));
  long long leftOver = 0;
  // Entries read but not returned wait in this consumer's pending entries.
  if (integerOf(r->element[0], &leftOver) && leftOver > 0) phase_ = Phase::kOwnPending;
  redis_.shedReadBuffer(2);  // before the texts are copied out of the reply
  return takeEntries(r->element[1]);
}

std::size_t StreamQueue::read(bool pending, std::vector<std::string>* batch) {
  // A backlog is read kReadAheadEntries at a time and handed out batch by batch.
  std::size_t entries = readScript(pending, pending ? kMaxBatch : kReadAheadEntries, kMaxBatchBytes);
  if (entries > 0 || pending || lastReadFailed_) return handOut(batch);

  // Nothing waits. Every copy captures the same texts, so this copy's own capture
  // says when the next entry is in the stream (it captures that text at once, as
  // the wait asks); entries only other copies added are found by a read after
  // kStreamIdleWaitMs.
  uint64_t readAt = captureProgress().total();  // progress when the stream was last read
  if (!captureProgress().waitFor(readAt + 1, kStreamIdleWaitMs, steadyMs())) {
    readAt = captureProgress().total();
    entries = readScript(false, kMaxBatch, kMaxBatchBytes);
    if (entries == 0 || lastReadFailed_) return handOut(batch);
  }
  // ... then gather as the in-memory loop does: the batch closes at kMaxBatch
  // entries, at kMaxBatchBytes, or kBatchWindowMs after its first entry arrived.
  // The stream is read once this copy's capture has put through the texts that
  // fill the batch, when the window closes, or when the capture put nothing through
  // for kBatchPollMs (it lags behind the other copies).
  const int64_t closeAtMs = steadyMs() + kBatchWindowMs;
  for (;;) {
    if (entries >= kMaxBatch || aheadBytes_ >= kMaxBatchBytes || phase_ != Phase::kNew) break;
    const uint64_t before = captureProgress().total();
    bool filled = false;
    int64_t left = closeAtMs - steadyMs();
    if (left > 0) {
      filled = captureProgress().waitFor(readAt + (kMaxBatch - entries),
                                         static_cast<int>(std::min<int64_t>(left, kBatchPollMs)),
                                         closeAtMs);
      left = closeAtMs - steadyMs();
    }
    if (!filled && left > 0 && captureProgress().total() > before) continue;  // it keeps up
    readAt = captureProgress().total();
    entries += readScript(false, kMaxBatch - entries, kMaxBatchBytes - aheadBytes_);
    if (lastReadFailed_) {
      phase_ = Phase::kOwnPending;
      lastReadFailed_ = false;  // what was read is posted; the lost part is read again
      break;
    }
    if (left <= 0) break;
  }
  return handOut(batch);
}

std::size_t StreamQueue::take(std::vector<std::string>* batch) {
  batch->clear();
  ids_.clear();
  const int64_t nowMs = steadyMs();
  if (nowMs - statsAtMs_ >= kStreamStatsEveryMs) refreshStats();
  // Entries read ahead go out before any other read or claim: a read of this
  // consumer's pending entries would return them again.
  if (!ahead_.empty()) return handOut(batch);
  if (!ensureGroup()) {
    lastReadFailed_ = true;
    metricsGroupReadFailed(true);
    return 0;
  }
  if (phase_ == Phase::kNew && !sweeping_ && nowMs - sweptAtMs_ >= kClaimEveryMs) {
    sweeping_ = true;  // entries held too long by any consumer, this one included
    sweptAtMs_ = nowMs;
    claimCursor_ = "0-0";
  }
  if (phase_ == Phase::kClaimOthers || sweeping_) {
    ack();  // claims carry no acknowledgements
    bool done = false, claimed = false;
    const int64_t minIdle = phase_ == Phase::kClaimOthers ? 0 : claimIdleMs();
    lastReadFailed_ = !claimStep(minIdle, &done, &claimed);
    metricsGroupReadFailed(lastReadFailed_);
    if (lastReadFailed_) return 0;
    if (claimed && phase_ == Phase::kNew) phase_ = Phase::kOwnPending;
    if (done) {
      sweeping_ = false;
      if (phase_ == Phase::kClaimOthers) phase_ = Phase::kOwnPending;
    }
    return 0;
  }
  const bool pending = phase_ == Phase::kOwnPending;
  const std::size_t entries = read(pending, batch);
  metricsGroupReadFailed(lastReadFailed_);
  if (lastReadFailed_) {
    // The reply may have been lost after Redis ran the read: its entries are
    // pending under this name now, and are read again before new ones.
    phase_ = Phase::kOwnPending;
    return 0;
  }
  if (pending && entries == 0) phase_ = Phase::kNew;
  return batch->size();
}

bool StreamQueue::ack() {
  if (unacked_.empty()) return true;
  std::vector<std::string> args = {"XACK", kCaptureStream, kForwarderGroup};
  args.insert(args.end(), unacked_.begin(), unacked_.end());
  RedisReplyPtr r = redis_.exchange(2, args);
  if (r == nullptr || r->type == REDIS_REPLY_ERROR) return false;  // kept for the next take
  unacked_.clear();
  return true;
}

void StreamQueue::settle(std::size_t first, std::size_t count) {
  // Sent with the next read (or by flush), in the same round trip.
  for (std::size_t i = first; i < first + count && i < ids_.size(); ++i) {
    unacked_.push_back(ids_[i]);
  }
}

void StreamQueue::flush() { ack(); }

bool StreamQueue::setAside(std::size_t, const std::string& text, long status,
                           const std::string& reply) {
  const std::string statusText = std::to_string(status);
  const std::string time = std::to_string(wallSeconds());
  const std::size_t replyBytes = reply.size() < kDeadLetterReplyBytes ? reply.size()
                                                                      : kDeadLetterReplyBytes;
  const char* argv[] = {"XADD",   kDeadLetterStream, "MAXLEN", "~",
                        deadLetterMaxLen_.c_str(), "*", "text", text.data(),
                        "status", statusText.c_str(), "reply", reply.data(),
                        "time",   time.c_str()};
  const std::size_t argvlen[] = {4, std::strlen(kDeadLetterStream), 6, 1,
                                 deadLetterMaxLen_.size(), 1, 4, text.size(),
                                 6, statusText.size(), 5, replyBytes,
                                 4, time.size()};
  RedisReplyPtr r = redis_.exchange(2, 14, argv, argvlen);
  return r != nullptr && r->type != REDIS_REPLY_ERROR;
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
  statsAtMs_ = steadyMs();
  RedisReplyPtr stream = redis_.exchange(2, {"XINFO", "STREAM", kCaptureStream});
  RedisReplyPtr groups = redis_.exchange(2, {"XINFO", "GROUPS", kCaptureStream});
  RedisReplyPtr dead = redis_.exchange(2, {"XLEN", kDeadLetterStream});
  RedisReplyPtr summary = redis_.exchange(2, {"XPENDING", kCaptureStream, kForwarderGroup});
  long long length = 0, added = 0, pending = 0, read = 0, deadLetters = 0;
  const bool haveStream = integerOf(replyField(stream.get(), "length"), &length) &&
                          integerOf(replyField(stream.get(), "entries-added"), &added);
  bool haveRead = false;
  if (replyIsArray(groups.get())) {
    for (std::size_t i = 0; i < groups->elements; ++i) {
      const redisReply* g = groups->element[i];
      if (!replyTextIs(replyField(g, "name"), kForwarderGroup)) continue;
      integerOf(replyField(g, "pending"), &pending);
      haveRead = integerOf(replyField(g, "entries-read"), &read);
    }
  }
  integerOf(dead.get(), &deadLetters);
  metricsSetDurable(length, pending, deadLetters);
  // XPENDING's summary: count, smallest id, largest id, consumers.
  const int64_t oldestMs =
      replyIsArray(summary.get()) && summary->elements >= 2 ? streamIdMillis(replyText(summary->element[1])) : 0;
  metricsSetOldestPending(oldestMs);  // the entry's wall ms (its id), not its age
  // Both trimming and reading take entries from the front: of the entries trimmed
  // so far (added - length), those beyond what the group had read were never sent.
  if (!haveStream || !haveRead) return;
  const long long lost = added - length - read;
  const uint64_t unread = lost > 0 ? static_cast<uint64_t>(lost) : 0;
  if (unread > trimmedUnread_) metricsTextsTrimmed(unread - trimmedUnread_);
  trimmedUnread_ = unread;
}
