// StreamQueue: the forwarding loop's queue with durable delivery, the stream
// tarvex:capture read through the consumer group "forwarders" (consumer: this
// host's name) on a master.
//
// take(): before the first new entry, the entries that other consumers read but
// never acknowledged are claimed, then this consumer's own pending entries are
// read again (a batch posted but not acknowledged goes out again: at least once,
// never lost); after that XREADGROUP ... BLOCK kStreamBlockMs reads new ones.
// Entries whose text was trimmed away are acknowledged and counted as trimmed.
// settlePosted(): a 2xx acknowledges the batch; no reply, a refused or reset
// connection, a TLS failure, a time-out, 408, 429 and 5xx keep it for a retry
// (pauses 1 s, 2 s, 4 s ..., capped at RetryMaxSeconds); any other status puts
// each text with the status and the reply into tarvex:deadletter, then
// acknowledges. Acknowledgements Redis did not take are sent again later.
// Every kStreamStatsEveryMs the stream's length, pending entries and dead letters
// go to the status metrics, and entries trimmed before they were read are counted.
// Main thread only; owns its RedisClient.
#ifndef TARVEX_REDIS_STREAM_QUEUE_H_
#define TARVEX_REDIS_STREAM_QUEUE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/forward_queue.h"
#include "redis/redis_client.h"

constexpr int kStreamBlockMs = 100;       // longest wait of one read for new entries
constexpr int kStreamStatsEveryMs = 5000;  // stream figures refreshed this often
constexpr int kStreamFailedWaitMs = 100;   // pause after a read Redis did not answer

class StreamQueue : public ForwardQueue {
 public:
  // `consumer`: this copy's name in the group (the host name).
  explicit StreamQueue(std::string consumer);

  std::size_t take(std::vector<std::string>* batch) override;
  void settleUnsent() override;
  Settled settlePosted(const HttpOutcome& outcome, const std::string& reply) override;
  int retryPauseMs(int failures) const override;
  void idle() override;

  // Entries ever trimmed before this consumer group read them, as last seen.
  uint64_t trimmedUnread() const { return trimmedUnread_; }

 private:
  // Where take() reads from.
  enum class Phase { kClaimOthers, kOwnPending, kNew };

  bool ensureGroup();
  bool claimOthers();
  std::size_t read(const char* from, bool block, std::vector<std::string>* batch);
  bool ack();
  bool deadLetter(long status, const std::string& reply);
  void refreshStats();

  RedisClient redis_;
  std::string consumer_;
  std::string deadLetterMaxLen_;   // MAXLEN ~ of tarvex:deadletter
  int32_t retryMaxSeconds_;        // cap of a retry pause
  bool groupReady_ = false;        // the consumer group is known to exist
  Phase phase_ = Phase::kClaimOthers;
  std::string claimCursor_ = "0-0";  // XAUTOCLAIM position while claiming
  bool lastReadFailed_ = false;      // the latest read got no usable reply
  std::vector<std::string> ids_;     // entry ids of the batch taken last
  std::vector<std::string> texts_;   // its texts, for the dead letters
  std::vector<std::string> unacked_;  // ids whose acknowledgement Redis did not take
  int64_t statsAtMs_ = 0;             // steady ms of the last refreshStats
  uint64_t trimmedUnread_ = 0;        // entries trimmed unread, as last computed
};

#endif  // TARVEX_REDIS_STREAM_QUEUE_H_
