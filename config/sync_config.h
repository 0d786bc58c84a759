// SyncConfig: the in-memory form of logsynset.ini, plus the run-log writer and the
// batch conversion that work on it.
//
// The constructor loads the file (a missing file gives an empty URL, the run log
// off and empty dictionaries). The URL and dictionaries never change afterwards;
// logFlag, flagReadTime and logSeq change only through runLogOn and WriteRunLog. Used on the
// main thread only; not thread-safe.
#ifndef TARVEX_CONFIG_SYNC_CONFIG_H_
#define TARVEX_CONFIG_SYNC_CONFIG_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr std::size_t kMaxUrl = 511;       // characters of the delivery URL
constexpr std::size_t kMaxDictText = 127;  // characters of a dictionary text
// Entries read into one dictionary, whatever its count key says: every entry costs
// scans of the whole file, so a mistyped count such as 2147483647 would otherwise
// keep the service from ever starting.
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

  // Reads logsynset.ini into the fields. Always returns 1. Texts longer than the
  // limits above are cut to the limit; counts above kMaxDictEntries read that many.
  int load();

  // Writes `text` as one numbered run-log line when the switch is on. Re-reads the
  // switch from the file at most every 30 s. Returns 1 when a line was written, 0
  // when the switch is off.
  int WriteRunLog(std::string text);

  // The switch as WriteRunLog sees it (re-read the same way): true when a line
  // would be written now. Lets callers skip making a text nobody writes.
  bool runLogOn();

  // Converts a batch of operation-log message texts into the receiving platform's
  // JSON document. Returns 1 and replaces `body` when at least one record came out;
  // -1 when nothing came out (nothing to send); 0 when the conversion as a whole
  // failed (memory exhausted): the batch was not looked at to the end. `body` is
  // unchanged unless 1 is returned. Never throws. A text's records go in whole or
  // not at all; memory beyond the document is one record, whatever the text holds.
  int BuildSendLogBody(const std::vector<std::string>& batch, std::string& body);
  // The same for texts[0 .. count). When `failedTexts` is given, the index of every
  // text whose conversion failed (an exception: none of its records went in) is
  // appended to it.
  int BuildSendLogBody(const std::string* texts, std::size_t count, std::string& body,
                       std::vector<std::size_t>* failedTexts);

  int32_t logFlag;       // run-log switch: non-zero means on
  int64_t flagReadTime;  // seconds since 1970 of the last re-read of logFlag; 0 at start
  int32_t logSeq;        // number of the next run-log line, 0 .. 10000

  std::map<int32_t, std::string> appSystems;        // application-system id -> name
  std::map<std::string, STATIONLOGINFO> stations;   // station code -> station
  std::map<std::string, EVENTTYPEINFO> eventTypes;  // event-type code -> event type

  char url[kMaxUrl + 1];  // delivery URL, NUL-terminated
};

// Current calendar time in seconds since 1970 (used by the run log).
int64_t nowCalendarSeconds();

#endif  // TARVEX_CONFIG_SYNC_CONFIG_H_
