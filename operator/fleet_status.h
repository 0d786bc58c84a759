// tarvex --status [--json]: the fleet as Redis sees it, for a person at a
// terminal (aligned lines, ages in seconds or minutes, no Redis ids) or, with
// --json, the same as one JSON object on one line.
//
// The owner comes first (its heartbeat moving or still), then with Durable=1 each
// copy that reported within the last minute with its role, the capture stream's
// backlog, the dead letters and the gaps the copies reported in the last hour.
// Reads through the read connection of a RedisClient configured by rdsset.ini and
// tarvex.ini; writes nothing to Redis. Returns the exit status: 0 when the owner's
// heartbeat moved while it was watched (up to kHeartbeatWatchMs), else 1.
#ifndef TARVEX_OPERATOR_FLEET_STATUS_H_
#define TARVEX_OPERATOR_FLEET_STATUS_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "config/timing.h"
#include "operator/fleet_reader.h"

int runFleetStatus(std::FILE* out, bool json);

// The two renderings of a snapshot (each ends with a newline).
std::string fleetStatusText(const FleetSnapshot& s);
std::string fleetStatusJson(const FleetSnapshot& s);

// An age for people: "42 s", "17 min", "5 h", "3 d" (negative ages read as 0).
std::string ageText(int64_t seconds);

#endif  // TARVEX_OPERATOR_FLEET_STATUS_H_
