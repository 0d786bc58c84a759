// Reading the replies of "SENTINEL masters" and "SENTINEL slaves <name>".
//
// Such a reply is an array with one entry per server; each entry is an array of
// texts in which field names and field values alternate. The walk examines every
// element of an entry in turn, values included, and compares it exactly with the
// key words: "ip" copies the next element into addr->host, "port" stores its
// decimal value in addr->port, "flags" appends it to the entry's flags and, for
// masters only, "name" copies it into `name`. `addr` and `name` are not reset
// between entries (nor before the first): an entry that lacks a field reuses the
// value left by the entries before it, and after a masters walk `name` holds the
// name of the last entry that had one.
//
// An entry is accepted by the first of its flags texts: a master when that text
// holds none of the characters o, _, d, w, n; a slave when it does not contain the
// word "s_down". Each accepted entry gives one "host:port" text, in reply order.
//
// Replies from a peer are untrusted, so the walk is total over any reply tree:
// - elements that are not texts (status or bulk strings) are passed over, and so
//   is a key word whose value is not a text or that is the last element;
// - an entry that is not an array, or that has no "flags", is not accepted;
// - an "ip" value longer than kMaxRedisHost characters cannot be held: addr->host
//   keeps its previous value and the entry is not accepted (a cut host name could
//   name another machine);
// - a "name" longer than kMaxRedisHost characters is cut to kMaxRedisHost (a
//   Sentinel does not know the cut name, so the slave query for it fails);
// - a port that is not a number gives 0, one out of range is clamped.
// Nothing here stops the walk of the other entries or reads past an array.
//
// The functions do no I/O, keep no state and may be called from any thread on
// replies that thread owns. A null or non-array reply gives no address.
#ifndef TARVEX_REDIS_SENTINEL_REPLY_H_
#define TARVEX_REDIS_SENTINEL_REPLY_H_

#include <hiredis/hiredis.h>

#include <string>
#include <vector>

#include "redis/redis_client.h"

// Walks a "SENTINEL masters" reply; `addr` and `name` are read and written as
// described above. Returns the accepted master addresses.
std::vector<std::string> walkSentinelMasters(const redisReply* reply, RedisAddress* addr,
                                             char (&name)[kMaxRedisHost + 1]);

// Walks a "SENTINEL slaves <name>" reply; "name" means nothing here. Returns the
// accepted slave addresses.
std::vector<std::string> walkSentinelSlaves(const redisReply* reply, RedisAddress* addr);

// The health tests applied to an entry's first flags text.
bool sentinelMasterFlagsHealthy(const std::string& flags);
bool sentinelSlaveFlagsHealthy(const std::string& flags);

#endif  // TARVEX_REDIS_SENTINEL_REPLY_H_
