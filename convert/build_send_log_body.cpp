// SyncConfig::BuildSendLogBody: operation-log messages into the receiving platform's
// document.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/sync_config.h"
#include "convert/message_scanner.h"
#include "convert/platform_log_info.h"
#include "convert/record_fields.h"
#include "convert/utf8_to_gbk.h"
#include "status/status.h"

namespace {

constexpr const char* kControlClass = "Control";  // the only class converted
constexpr const char* kEventType = "122";          // eventType of every record
constexpr std::size_t kMaxReserve = 4u << 20;      // bytes reserved up front at most

// Appends the decimal text of v, as std::to_string writes it.
void appendDecimal(int32_t v, std::string* out) {
  char digits[12];
  std::size_t n = 0;
  uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) out->push_back('-');
  while (n > 0) out->push_back(digits[--n]);
}

}  // namespace

int SyncConfig::BuildSendLogBody(std::vector<std::string> batch, std::string& body) {
  try {
    // The document text, built record by record: "[", objects separated by ",".
    // Documents come out about as long as the texts they are made from; past the
    // cap the string grows as it needs to.
    std::string bodysender;
    std::size_t textBytes = 0;
    for (const std::string& text : batch) textBytes += text.size();
    bodysender.reserve(std::min(textBytes, kMaxReserve) + 3);
    bodysender = "[";
    int n = 0;  // records converted so far
    MessageScanner scanner;
    Utf8ToGbk toGbk;
    PLATFORMLOGINFO sendLogData;  // the fields left out below stay empty
    sendLogData.eventType = kEventType;
    tzset();  // the zone of every operateTimeText below

    for (const std::string& text : batch) {
      // Anything thrown while a message is worked on skips the rest of that message;
      // records already added stay whole.
      try {
        if (scanner.read(text) != MessageScanner::Outcome::kArray) {
          metricsRecordSkipped(SkipReason::kUnreadableText);
          continue;
        }
        for (std::size_t i = 0; i < scanner.recordCount(); ++i) {
          const MessageScanner::Record& record = scanner.record(i);
          if (!record.isObject) {
            metricsRecordSkipped(SkipReason::kNotObject);
            continue;
          }
          const std::string* const member = record.text;

          const std::string& classname = member[MessageScanner::kClassname];
          if (classname != kControlClass) {
            metricsRecordSkipped(SkipReason::kNotControl);
            continue;
          }

          const int32_t occurtime = decimalInt32(member[MessageScanner::kOccurtime]);
          const auto app = appSystems.find(decimalInt32(member[MessageScanner::kAppsysid]));
          if (app == appSystems.end()) {
            metricsRecordSkipped(SkipReason::kUnknownAppSystem);
            continue;
          }

          const std::string& chardesc = member[MessageScanner::kChardesc];
          if (runLogOn()) WriteRunLog(toGbk.convert(chardesc));

          const auto station = stations.find(member[MessageScanner::kGroupname]);
          if (station == stations.end()) {
            metricsRecordSkipped(SkipReason::kUnknownStation);
            continue;
          }

          // The fields that differ between records, written into the buffers of the
          // last record; the constant ones were set before the loop.
          operateTimeText(occurtime, &sendLogData.operateTime);
          sendLogData.userName.assign(member[MessageScanner::kUserName]);
          sendLogData.workstation.assign(member[MessageScanner::kWorkstation]);
          sendLogData.description.assign(chardesc);
          std::string& guid = sendLogData.guid;
          guid.clear();
          appendDecimal(occurtime, &guid);
          guid += ':';
          guid += member[MessageScanner::kOccurms];
          guid += ':';
          guid += member[MessageScanner::kDevicekey];
          guid += ':';
          guid += classname;
          sendLogData.lineId.assign(station->second.lineId);
          sendLogData.stationId.assign(station->second.stationId);
          sendLogData.major.assign(app->second);
          sendLogData.lineName.assign(station->second.lineDesc);
          sendLogData.stationName.assign(station->second.stationDesc);

          const std::size_t before = bodysender.size();
          try {
            if (n > 0) bodysender.push_back(',');
            appendJson(sendLogData, &bodysender);
          } catch (...) {
            bodysender.resize(before);  // never a partly written record
            throw;
          }
          ++n;
          metricsRecordConverted();
        }
      } catch (...) {
      }
    }

    if (n == 0) return -1;
    bodysender += "]\n";
    body = std::move(bodysender);
    return 1;
  } catch (...) {
    // Only memory exhaustion gets here; the caller's body is untouched.
    return -1;
  }
}
