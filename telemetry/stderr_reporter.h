// StderrReporter: reasons for failures on stderr, at most one line per kind of
// failure per kReportIntervalMs. Lines of a kind that come sooner are counted, and
// the next line of that kind says how many were left out. The run log is never
// written, so its numbering is unchanged.
//
// Thread-safe (one small lock around the per-kind table, never held while
// writing). Texts must not hold secrets; the caller passes what may be shown.
#ifndef TARVEX_TELEMETRY_STDERR_REPORTER_H_
#define TARVEX_TELEMETRY_STDERR_REPORTER_H_

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "config/timing.h"


class StderrReporter {
 public:
  explicit StderrReporter(std::FILE* out = stderr, int64_t intervalMs = kReportIntervalMs)
      : out_(out), intervalMs_(intervalMs) {}

  // Writes "tarvex: <text>" (plus " (N more like this left out)" when lines of
  // `kind` were held back) unless a line of `kind` went out less than the interval
  // before `nowMs` (a steady clock). Returns true when a line was written.
  bool report(const std::string& kind, const std::string& text, int64_t nowMs);
  bool report(const std::string& kind, const std::string& text);

 private:
  struct KindState {
    int64_t lastMs = 0;
    bool printed = false;
    uint64_t suppressed = 0;
  };

  std::FILE* out_;
  const int64_t intervalMs_;
  std::mutex mu_;
  std::map<std::string, KindState> kinds_;  // guarded by mu_
};

// The process's reporter, writing to stderr.
StderrReporter& stderrReporter();

#endif  // TARVEX_TELEMETRY_STDERR_REPORTER_H_
