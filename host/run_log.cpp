#include "host/run_log.h"

#include <cstdint>

#include "config/ini_keys.h"
#include "config/ini_reader.h"
#include "config/timing.h"
#include "host/messages.h"
#include "platform/clock.h"
#include "platform/kprintf.h"

namespace {

constexpr int32_t kMaxRunLogSeq = 10000;      // last line number before starting at 0

}  // namespace

bool RunLog::runLogOn() {
  const int64_t now = wallSeconds();
  // Signed difference, computed without overflow: a clock set back gives a
  // negative value and no re-read until it has passed the last re-read again.
  const int64_t sinceRead =
      static_cast<int64_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(flagReadTime));
  if (sinceRead > kSwitchRereadSeconds) {
    IniReader getIni(kSyncFile);  // read afresh: an edit takes effect here
    logFlag = iniInt32(getIni.readNumber(ini::kLogFlagSection, ini::kLogFlag, "0"));
    flagReadTime = wallSeconds();
  }
  return logFlag != 0;
}

int RunLog::WriteRunLog(std::string text) {
  if (!runLogOn()) return 0;

  if (logSeq > kMaxRunLogSeq) logSeq = 0;
  // The text is an argument, never the format: its percent signs stay as they are.
  kprintf(6, 7, 1, kRunLogFormat, logSeq, text.c_str());
  ++logSeq;
  return 1;
}
