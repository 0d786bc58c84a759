// Cost of a run-log call: switched off (a clock read, the INI file scanned at most
// every 30 s) and switched on (one stamped line appended to the log file).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/sync_config.h"
#include "host/run_log.h"
#include "platform/kprintf.h"

namespace {

// A throw-away installation root with logsynset.ini holding the given switch.
class BenchRoot {
 public:
  explicit BenchRoot(const char* flag) {
    char tmpl[] = "/tmp/tarvex-bench-XXXXXX";
    path_ = mkdtemp(tmpl);
    std::filesystem::create_directories(path_ + "/cfg");
    std::ofstream(path_ + "/cfg/logsynset.ini") << "[synLogFlag]\nFlag=" << flag << "\n";
    setenv("ZQROOT", path_.c_str(), 1);
    setRunLogRoot(path_);
  }
  ~BenchRoot() {
    unsetenv("ZQROOT");
    setRunLogRoot("");
    std::filesystem::remove_all(path_);
  }

 private:
  std::string path_;
};

void BM_WriteRunLogSwitchedOff(benchmark::State& state) {
  BenchRoot root("0");
  RunLog config(SyncConfig().logFlag);
  for (auto _ : state) benchmark::DoNotOptimize(config.WriteRunLog("text"));
}
BENCHMARK(BM_WriteRunLogSwitchedOff);

void BM_WriteRunLogLine(benchmark::State& state) {
  BenchRoot root("1");
  RunLog config(SyncConfig().logFlag);
  const std::string text(static_cast<std::size_t>(state.range(0)), 'x');
  for (auto _ : state) benchmark::DoNotOptimize(config.WriteRunLog(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WriteRunLogLine)->Arg(64)->Arg(64 * 1024);

}  // namespace

BENCHMARK_MAIN();
