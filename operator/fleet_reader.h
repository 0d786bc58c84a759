// What `tarvex --status` reads from Redis: the owner hash and whether its
// heartbeat moves, and with durable delivery the copies' hashes
// (tarvex:copy:<host>), the capture stream's backlog and the dead letters.
//
// readFleet uses client's read connection only (a replica when one answers, else a
// master) and writes nothing. It watches the owner's heartbeat for up to watchMs,
// reading the hash every kHeartbeatPollMs until the time changes. Ages are taken
// against Redis's own clock (TIME). Any field it could not read keeps its "unknown"
// value. Not thread-safe (one client, one caller).
#ifndef TARVEX_OPERATOR_FLEET_READER_H_
#define TARVEX_OPERATOR_FLEET_READER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "config/timing.h"
#include "redis/redis_client.h"
#include "telemetry/metrics.h"


// One copy as its hash shows it.
struct CopyReport {
  std::string host;
  std::string role;     // owner, standby or starting
  std::string version;
  bool subscribed = false;
  int64_t startedWall = 0;   // wall seconds of the copy's start
  int64_t reportedWall = 0;  // wall seconds of its last refresh
  std::vector<GapRecord> gaps;  // gaps it reported in the last hour, oldest first
};

struct FleetSnapshot {
  bool answered = false;      // a Redis node answered TIME
  std::string redisAddress;   // the node read ("host:port")
  int64_t nowMs = 0;          // Redis's clock, milliseconds since 1970

  int ownerRead = -1;         // 1: the hash names an owner; 0: it names none; -1: not read
  std::string ownerHost;
  int64_t heartbeatWall = 0;  // the owner's latest heartbeat, wall seconds
  bool heartbeatMoving = false;
  int64_t watchedMs = 0;      // how long the heartbeat was watched

  bool durable = false;             // Durable=1 in tarvex.ini
  std::vector<CopyReport> copies;   // the owner's first, then by host name
  int64_t streamLength = -1;        // entries kept in tarvex:capture; -1 unknown
  int64_t unread = -1;              // entries the group has not read yet; -1 unknown
  int64_t pending = -1;             // read and not acknowledged; -1 unknown
  int64_t oldestWaitingMs = -1;     // age of the oldest unread or pending entry; -1 none
  int64_t deadLetters = -1;         // entries in tarvex:deadletter; -1 unknown
  int64_t newestDeadLetterWall = 0;  // when the newest was set aside; 0 none
};

FleetSnapshot readFleet(RedisClient& client, int watchMs = kHeartbeatWatchMs);

#endif  // TARVEX_OPERATOR_FLEET_READER_H_
