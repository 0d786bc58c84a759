// SyncConfig: the in-memory form of logsynset.ini: the delivery URL, the run-log
// switch as loaded and the dictionaries. Data only: the conversion
// (convert/build_send_log_body.h) and the run log (host/run_log.h) work with it.
//
// The constructor loads the file (a missing file gives an empty URL, the run log
// off and empty dictionaries). Nothing changes afterwards, so a loaded SyncConfig
// may be read from any thread.
#ifndef TARVEX_CONFIG_SYNC_CONFIG_H_
#define TARVEX_CONFIG_SYNC_CONFIG_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr std::size_t kMaxUrl = 511;       // characters of the delivery URL
constexpr std::size_t kMaxDictText = 127;  // characters of a dictionary text
// Entries read into one dictionary, whatever its count key says: every entry costs
// lookups and memory, so a mistyped count such as 2147483647 would otherwise keep
// the service from ever starting.
constexpr int32_t kMaxDictEntries = 10000;

// One station of the dictionary; texts in the file's code page (GBK).
struct STATIONLOGINFO {
  std::string lineId;       // "stationlindid%d"
  std::string stationId;    // "stationid%d"
  std::string lineDesc;     // "stationlinddesc%d"
  std::string stationDesc;  // "stationdesc%d"
};

// One event type of the dictionary (loaded and held, not used by the conversion).
struct EVENTTYPEINFO {
  std::string eventTypeId;    // "eventtypeid%d"
  std::string eventTypeDesc;  // "eventtypedesc%d"
};

class SyncConfig {
 public:
  // Sets the start values and runs load().
  SyncConfig();

  // Reads logsynset.ini (once, whatever the number of entries) into the fields.
  // Always returns 1. Texts longer than the limits above are cut to the limit;
  // counts above kMaxDictEntries read that many.
  int load();

  int32_t logFlag;  // run-log switch as loaded: non-zero means on (RunLog re-reads it)

  std::map<int32_t, std::string> appSystems;        // application-system id -> name
  std::map<std::string, STATIONLOGINFO> stations;   // station code -> station
  std::map<std::string, EVENTTYPEINFO> eventTypes;  // event-type code -> event type

  char url[kMaxUrl + 1];  // delivery URL, NUL-terminated
};

#endif  // TARVEX_CONFIG_SYNC_CONFIG_H_
