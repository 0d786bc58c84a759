// RunLog: the numbered lines of the run log (log/ under the installation root,
// written through kprintf), switched on and off by logsynset.ini's [synLogFlag] Flag.
//
// The switch starts as SyncConfig loaded it and is re-read from the file at most
// every kSwitchRereadSeconds. Lines are numbered 0 .. kMaxRunLogSeq, then from 0
// again. The conversion hands its lines here through RunLogLines. Not thread-safe:
// the main thread writes the run log.
#ifndef TARVEX_HOST_RUN_LOG_H_
#define TARVEX_HOST_RUN_LOG_H_

#include <cstdint>
#include <string>

#include "config/timing.h"
#include "convert/build_send_log_body.h"

class RunLog : public RunLogLines {
 public:
  explicit RunLog(int32_t loadedFlag) : logFlag(loadedFlag) {}

  // Writes `text` as one numbered run-log line when the switch is on. Returns 1
  // when a line was written, 0 when the switch is off.
  int WriteRunLog(std::string text);

  // The switch as WriteRunLog sees it (re-read the same way): true when a line
  // would be written now. Lets callers skip making a text nobody writes.
  bool runLogOn();

  bool wanted() override { return runLogOn(); }
  void write(std::string line) override { WriteRunLog(std::move(line)); }

  int32_t logFlag;           // run-log switch: non-zero means on
  int64_t flagReadTime = 0;  // seconds since 1970 of the last re-read of logFlag; 0 at start
  int32_t logSeq = 0;        // number of the next run-log line, 0 .. kMaxRunLogSeq
};

#endif  // TARVEX_HOST_RUN_LOG_H_
