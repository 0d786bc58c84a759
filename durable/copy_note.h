// CopyNote: the hash tarvex:copy:<host> that every durable copy keeps, so that
// `tarvex --status` can list the fleet. Fields: host, role (owner, standby or
// starting), version, subscribed (1 or 0), started (wall seconds of this process's
// start), time (wall seconds of the refresh) and gaps (the subscription gaps this
// copy reported that ended in the last kRecentGapSeconds, "from-to" in wall
// seconds, blank-separated, oldest first; "" for none).
//
// refresh() rewrites the hash, and its expiry of kCopyNoteLifeSeconds, in one
// script call on a master when kCopyNoteEveryMs have passed since the last write or
// the copy's role or subscription changed; a write that fails is tried again at
// the next call. Belongs to the capture thread; not thread-safe.
#ifndef TARVEX_DURABLE_COPY_NOTE_H_
#define TARVEX_DURABLE_COPY_NOTE_H_

#include <cstdint>
#include <string>

#include "config/timing.h"
#include "redis/redis_client.h"

constexpr const char* kCopyKeyPrefix = "tarvex:copy:";  // + host name

// Sets the fields ARGV[2..] of the hash KEYS[1], then its expiry to ARGV[1] seconds.
constexpr const char* kCopyNoteScript =
    "redis.call('HSET', KEYS[1], unpack(ARGV, 2))\n"
    "return redis.call('EXPIRE', KEYS[1], ARGV[1])\n";
constexpr const char* kCopyNoteScriptSha = "050376c5477780e6adadc454d17723eedbe94f19";

class CopyNote {
 public:
  explicit CopyNote(std::string host);

  // Writes the hash when it is due (see above). nowSteadyMs: the steady clock.
  void refresh(RedisClient& client, int64_t nowSteadyMs);

  // Wall seconds of this process's start.
  static int64_t processStartWall();

 private:
  std::string host_;
  int64_t writtenAtMs_ = 0;  // steady ms of the last write Redis took; 0: none
  int32_t role_ = -1;        // role and subscription the last write showed
  int32_t subscribed_ = -1;
};

#endif  // TARVEX_DURABLE_COPY_NOTE_H_
