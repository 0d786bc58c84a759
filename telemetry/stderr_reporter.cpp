#include "telemetry/stderr_reporter.h"

#include "platform/clock.h"

bool StderrReporter::report(const std::string& kind, const std::string& text, int64_t nowMs) {
  uint64_t leftOut = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    KindState& s = kinds_[kind];
    if (s.printed && nowMs - s.lastMs < intervalMs_) {
      ++s.suppressed;
      return false;
    }
    leftOut = s.suppressed;
    s.suppressed = 0;
    s.printed = true;
    s.lastMs = nowMs;
  }
  std::string line = "tarvex: " + text;
  if (leftOut > 0) line += " (" + std::to_string(leftOut) + " more like this left out)";
  line += '\n';
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
  return true;
}

bool StderrReporter::report(const std::string& kind, const std::string& text) {
  return report(kind, text, steadyMs());
}

StderrReporter& stderrReporter() {
  static StderrReporter* reporter = new StderrReporter();  // never destroyed: threads use it
  return *reporter;
}
