// StreamQueue: the forwarding loop's queue with durable delivery, the stream
// tarvex:capture read through the consumer group "forwarders" (consumer: this
// host's name) on a master.
//
// take(): before the first new entry, the entries that other consumers read but
// never acknowledged are claimed, then this consumer's own pending entries are
// read again (a batch posted but not acknowledged goes out again: at least once,
// never lost); after that new ones. After any read or claim that got no usable
// reply, the own pending entries are read again before new ones: a read whose
// reply was lost left its entries pending under this name. Every kClaimEveryMs the
// entries any consumer has held longer than claimIdleMs() are claimed too, so an
// entry never waits for a takeover. Reads go through kReadScript: at most
// kMaxBatch entries, and no more once their texts reach kMaxBatchBytes (what a read
// got beyond that is read again from the pending entries). A backlog is taken as it
// waits, kReadAheadEntries per read, handed out in batches before any other read or
// claim (with the acknowledgements of up to that many entries waiting for the next
// read). When none is waiting, the owner waits for its own capture to put the next
// text through (CaptureProgress; every copy captures the same texts), or reads the
// stream after kStreamIdleWaitMs for entries only other copies added; the batch then
// gathers, as the in-memory loop's does, until it holds kMaxBatch entries or
// kBatchWindowMs have passed since its first entry came. It reads the stream again
// when this copy's capture has put through the texts that fill it, when the window
// closes, or when the capture put nothing through for kBatchPollMs.
// Entries whose text was trimmed away are acknowledged and counted as trimmed.
//
// settle() acknowledges texts of the batch: the acknowledgement goes with the next
// read, in the same script call, or with flush() (after the loop's last batch);
// one Redis did not take is sent again later. setAside() adds one text to tarvex:deadletter with its
// status, the first kDeadLetterReplyBytes of the reply and the time.
// Every kStreamStatsEveryMs the stream's length, pending entries, the oldest
// pending entry and the dead letters go to the status metrics, and entries trimmed
// before they were read are counted. Main thread only; owns its RedisClient.
#ifndef TARVEX_DURABLE_STREAM_QUEUE_H_
#define TARVEX_DURABLE_STREAM_QUEUE_H_

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "config/timing.h"
#include "queue/forward_queue.h"
#include "redis/redis_client.h"

constexpr std::size_t kMaxAcksPerRead = 1000;  // acknowledgements sent with one read
constexpr std::size_t kReadAheadEntries = 500;  // entries one read of a backlog takes

class StreamQueue : public ForwardQueue {
 public:
  // `consumer`: this copy's name in the group (the host name); the Redis
  // credentials and stream settings come from `options`.
  StreamQueue(std::string consumer, const TarvexOptions& options);
  // The same with cfg/tarvex.ini loaded here.
  explicit StreamQueue(std::string consumer);

  std::size_t take(std::vector<std::string>* batch) override;
  bool keepsFailed() const override { return true; }
  void settle(std::size_t first, std::size_t count) override;
  void flush() override;
  bool setAside(std::size_t index, const std::string& text, long status,
                const std::string& reply) override;
  int retryPauseMs(int failures) const override;
  int retryMaxMs() const override { return retryMaxSeconds_ * 1000; }
  void idle() override;

  // Entries ever trimmed before this consumer group read them, as last seen.
  uint64_t trimmedUnread() const { return trimmedUnread_; }
  // Idle time after which take() claims another consumer's entry, milliseconds.
  int64_t claimIdleMs() const { return 2 * int64_t{kPostBoundMs} + retryMaxMs(); }

 private:
  // Where take() reads from.
  enum class Phase { kClaimOthers, kOwnPending, kNew };

  bool ensureGroup();
  // One XAUTOCLAIM step from claimCursor_ of entries idle at least minIdleMs; false
  // without a usable reply. *done: the cursor went round; *claimed: ids were moved.
  bool claimStep(int64_t minIdleMs, bool* done, bool* claimed);
  // One read of the stream; hands out the next batch.
  std::size_t read(bool pending, std::vector<std::string>* batch);
  // One kReadScript call, carrying the acknowledgements owed; appends what it read to
  // ahead_ and returns the number of entries read.
  std::size_t readScript(bool pending, std::size_t most, std::size_t budget);
  std::size_t takeEntries(const struct redisReply* entries);
  // Moves the next batch out of ahead_ into *batch (and ids_); returns its size.
  std::size_t handOut(std::vector<std::string>* batch);
  bool ack();
  void refreshStats();

  RedisClient redis_;
  std::string consumer_;
  std::string deadLetterMaxLen_;   // MAXLEN ~ of tarvex:deadletter
  int32_t retryMaxSeconds_;        // cap of a retry pause
  bool groupReady_ = false;        // the consumer group is known to exist
  Phase phase_ = Phase::kClaimOthers;
  std::string claimCursor_ = "0-0";  // XAUTOCLAIM position while claiming
  bool sweeping_ = false;            // a periodic claim is under way
  int64_t sweptAtMs_ = 0;            // steady ms the last periodic claim began
  bool lastReadFailed_ = false;      // the latest read got no usable reply
  std::vector<std::string> ids_;     // entry ids of the batch taken last
  // Entries read but not handed out yet, oldest first (pending under this consumer;
  // at most one read's worth: kReadAheadEntries and kMaxBatchBytes plus one text).
  struct Entry {
    std::string id;
    std::string text;
  };
  std::deque<Entry> ahead_;
  std::size_t aheadBytes_ = 0;  // text bytes in ahead_
  std::vector<std::string> unacked_;  // ids whose acknowledgement Redis did not take
  int64_t statsAtMs_ = 0;             // steady ms of the last refreshStats
  uint64_t trimmedUnread_ = 0;        // entries trimmed unread, as last computed
};

#endif  // TARVEX_DURABLE_STREAM_QUEUE_H_
