// TarvexOptions: the service's own options, from the optional cfg/tarvex.ini.
//
// load() looks for the file once; when it is absent every field keeps its default
// and nothing is printed, so an installation without the file behaves exactly as
// the two original files make it behave. Each option switches on one thing.
// Key names are unique across the file (the reader never closes a section).
// A file that is there but cannot be read leaves every field at its default and
// sets `unreadable` with the reason; load() prints nothing about it, and the
// service's start refuses to run on such defaults. Values are read up to
// kOptionsMaxValue bytes (a long bearer token fits); longer ones are cut.
//
// A header line holding CR or LF is refused at load: one stderr line, not sent.
// Secrets (the passwords, the private key path) are never printed by this class.
// Each user (each RedisClient, the delivery, the status endpoint) loads its own
// copy once at start; a copy is immutable afterwards and may be read from any
// thread.
#ifndef TARVEX_CONFIG_TARVEX_OPTIONS_H_
#define TARVEX_CONFIG_TARVEX_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "config/ini_keys.h"
#include "config/timing.h"

constexpr std::size_t kOptionsMaxValue = 8191;  // bytes of a value kept
// A line holds a key name, "=" and blanks besides its value: room for them.
constexpr std::size_t kOptionsLineRoom = 1024;  // bytes
constexpr IniLimits kOptionsIniLimits{kOptionsMaxValue + kOptionsLineRoom, kOptionsMaxValue};
constexpr int32_t kMaxExtraHeaders = 100;  // header lines read, whatever HeaderNum says

struct TarvexOptions {
  // Reads cfg/tarvex.ini into the fields (defaults when it is absent or cannot be
  // read). Returns true when the file was found.
  bool load();

  bool present = false;        // cfg/tarvex.ini was found
  bool unreadable = false;     // it was found but cannot be read: fields are defaults
  std::string whyUnreadable;   // strerror text when unreadable

  // [RedisAuth]
  std::string redisUser;         // ACL user of the data nodes; empty: AUTH <password>
  std::string redisPassword;     // empty: no AUTH to the data nodes
  std::string sentinelUser;      // ACL user of the Sentinels
  std::string sentinelPassword;  // empty: no AUTH to the Sentinels

  // [Http]
  std::string caFile;                     // PEM CAs for https; empty: system store
  std::string clientCertFile;             // PEM client certificate
  std::string clientKeyFile;              // its private key (path never printed)
  std::vector<std::string> extraHeaders;  // accepted Header%d lines, in index order
  int32_t keepAlive = 0;                  // 1: one connection kept across posts

  // [Durable]
  int32_t durable = 0;                   // 1: delivery through the Redis stream
  int64_t streamMaxLen = 1000000;        // most entries kept in tarvex:capture
  int32_t retryMaxSeconds = 60;          // longest pause between two attempts
  int64_t deadLetterMaxLen = 100000;     // most entries kept in tarvex:deadletter

  // [Status]
  std::string statusListen;  // "host:port" of the status endpoint; empty: none

  // [Service]
  // Longest wait, seconds, for a successor after a stop signal; 0: a stop signal
  // ends the copy at once, releasing nothing. A negative value gives the default.
  int32_t stopHandoverSeconds = kDefaultStopHandoverSeconds;
};

// A TarvexOptions after load(): for a caller that loads the file once and keeps it.
TarvexOptions loadedTarvexOptions();

// True when a header line may be sent: it holds neither CR nor LF.
bool headerLineAcceptable(const std::string& line);

#endif  // TARVEX_CONFIG_TARVEX_OPTIONS_H_
