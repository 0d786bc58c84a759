// BuildSendLogBody on arbitrary message texts with a fixed dictionary. The input is
// split at NUL bytes into the texts of one batch (a delivered text never holds a
// NUL). Besides memory errors, it checks the promise to the receiver: a produced
// document is a JSON array of 17-member objects that names only dictionary entries,
// and nothing produced leaves the caller's body as it was.
#include <json/json.h>
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/sync_config.h"
#include "fuzz/fuzz_root.h"
#include "host/run_log.h"

namespace {

// Two application systems, two stations (one with GBK names), the run log off.
const char kSettings[] =
    "[tovraurl]\nurl=http://127.0.0.1:1/log\n"
    "[synLogFlag]\nFlag=0\n"
    "[appSysId]\nappsysidnum=2\nappsysid0=1\nappsysiddesc0=SCADA\n"
    "appsysid1=7\nappsysiddesc1=\xb5\xe7\xc1\xa6\n"
    "[stationInfo]\nstationnum=2\n"
    "stationcode0=G1\nstationlindid0=L1\nstationlinddesc0=Line 1\n"
    "stationid0=S1\nstationdesc0=North\n"
    "stationcode1=\xd5\xbe\nstationlindid1=L2\nstationlinddesc1=\xcf\xdf\n"
    "stationid1=S2\nstationdesc1=\xc4\xcf\n";

constexpr size_t kMaxTexts = 100;  // a batch holds at most this many texts

SyncConfig& config() {
  static SyncConfig* c = [] {
    fuzzroot::writeCfg("logsynset.ini", kSettings, sizeof(kSettings) - 1);
    return new SyncConfig();
  }();
  return *c;
}

void checkDocument(const std::string& body) {
  if (body.size() < 3 || body.compare(body.size() - 2, 2, "]\n") != 0) abort();
  Json::Value doc;
  Json::Reader reader(Json::Features::strictMode());
  if (!reader.parse(body, doc, false) || !doc.isArray() || doc.size() == 0) abort();
  for (const Json::Value& rec : doc) {
    if (!rec.isObject() || rec.size() != 17) abort();
    const std::string major = rec["major"].asString();
    if (major != "SCADA" && major != "\xb5\xe7\xc1\xa6") abort();
    const std::string station = rec["stationId"].asString();
    if (station != "S1" && station != "S2") abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SyncConfig& sync = config();
  static RunLog runLog(sync.logFlag);
  std::vector<std::string> batch;
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  while (batch.size() < kMaxTexts) {
    const char* nul = static_cast<const char*>(memchr(p, '\0', end - p));
    batch.emplace_back(p, nul == nullptr ? end : nul);
    if (nul == nullptr) break;
    p = nul + 1;
  }
  const std::string unset = "unset";
  std::string body = unset;
  const int r = BuildSendLogBody(sync, batch, body, &runLog);
  if (r == 1) {
    checkDocument(body);
  } else if (r != -1 || body != unset) {
    abort();
  }
  return 0;
}
