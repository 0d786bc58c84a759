// Throughput of the batch conversion, with the run log switched off.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/sync_config.h"
#include "convert/build_send_log_body.h"
#include "platform/kprintf.h"

namespace {

// A temporary installation root holding logsynset.ini with the run log off.
class BenchRoot {
 public:
  BenchRoot() {
    char tmpl[] = "/tmp/tarvex-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    path_ = tmpl;
    std::filesystem::create_directories(path_ + "/cfg");
    std::FILE* f = std::fopen((path_ + "/cfg/logsynset.ini").c_str(), "w");
    if (f == nullptr) std::abort();
    std::fputs(
        "[synLogFlag]\nFlag=0\n"
        "[appSysId]\nappsysidnum=2\nappsysid0=3\nappsysiddesc0=\xB9\xA9\xB5\xE7\n"
        "appsysid1=5\nappsysiddesc1=Signal\n"
        "[stationInfo]\nstationnum=2\n"
        "stationlindid0=L2\nstationlinddesc0=\xD2\xBB\xBA\xC5\xCF\xDF\nstationid0=S07\n"
        "stationdesc0=\xB3\xB5\xD5\xBE\nstationcode0=ST07\n"
        "stationlindid1=L2\nstationlinddesc1=Line 2\nstationid1=S08\n"
        "stationdesc1=Station Eight\nstationcode1=ST08\n",
        f);
    std::fclose(f);
    setenv("ZQROOT", path_.c_str(), 1);
    setRunLogRoot(path_);
  }
  ~BenchRoot() {
    setRunLogRoot("");
    std::filesystem::remove_all(path_);
  }

 private:
  std::string path_;
};

// One operation record as the producer writes it: UTF-8 description, a few members
// the conversion does not read.
std::string record(int i) {
  char text[512];
  std::snprintf(text, sizeof(text),
                "{\"classname\":\"Control\",\"occurtime\":\"%d\",\"occurms\":\"%d\","
                "\"devicekey\":\"DEV.%04d\",\"appsysid\":\"%d\","
                "\"chardesc\":\"\xE6\x96\xAD\xE8\xB7\xAF\xE5\x99\xA8%d \xE5\x90\x88\xE9\x97\xB8\","
                "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST0%d\","
                "\"almlevel\":\"2\",\"almtype\":\"17\",\"pointname\":\"breaker.%d.pos\"}",
                1709629622 + i, i % 1000, i, i % 2 == 0 ? 3 : 5, i, 7 + i % 2, i);
  return text;
}

std::vector<std::string> makeBatch(int messages, int recordsPerMessage) {
  std::vector<std::string> batch;
  int k = 0;
  for (int m = 0; m < messages; ++m) {
    std::string msg = "[";
    for (int r = 0; r < recordsPerMessage; ++r) {
      if (r > 0) msg += ",";
      msg += record(k++);
    }
    batch.push_back(msg + "]");
  }
  return batch;
}

void BM_BuildSendLogBody(benchmark::State& state) {
  static BenchRoot root;
  SyncConfig config;
  const int recordsPerMessage = static_cast<int>(state.range(0));
  const std::vector<std::string> batch = makeBatch(100, recordsPerMessage);
  std::string body;
  for (auto _ : state) {
    if (BuildSendLogBody(config, batch, body) != 1) state.SkipWithError("nothing converted");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetItemsProcessed(state.iterations() * 100 * recordsPerMessage);
  state.counters["doc_bytes"] = static_cast<double>(body.size());
}

}  // namespace

// 100 messages per batch, of 1 and of 10 records each; items are records.
BENCHMARK(BM_BuildSendLogBody)->Arg(1)->Arg(10)->ArgName("records_per_message")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
