// SyncConfig::BuildSendLogBody: operation-log messages into the receiving platform's
// document.
#include <time.h>

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

}  // namespace

int SyncConfig::BuildSendLogBody(std::vector<std::string> batch, std::string& body) {
  try {
    // The document text, built record by record: "[", objects separated by ",".
    std::string bodysender = "[";
    int n = 0;  // records converted so far
    MessageScanner scanner;
    Utf8ToGbk toGbk;
    PLATFORMLOGINFO sendLogData;
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
          std::string operateTime;
          operateTimeText(occurtime, &operateTime);
          const std::string& occurms = member[MessageScanner::kOccurms];
          const std::string& devicekey = member[MessageScanner::kDevicekey];

          const auto app = appSystems.find(decimalInt32(member[MessageScanner::kAppsysid]));
          if (app == appSystems.end()) {
            metricsRecordSkipped(SkipReason::kUnknownAppSystem);
            continue;
          }

          std::string chardesc = member[MessageScanner::kChardesc];
          if (runLogOn()) WriteRunLog(toGbk.convert(chardesc));

          std::string userName = member[MessageScanner::kUserName];
          std::string workstation = member[MessageScanner::kWorkstation];
          const std::string& groupname = member[MessageScanner::kGroupname];

          std::string guid = std::to_string(occurtime);
          guid += ':';
          guid += occurms;
          guid += ':';
          guid += devicekey;
          guid += ':';
          guid += classname;

          const auto station = stations.find(groupname);
          if (station == stations.end()) {
            metricsRecordSkipped(SkipReason::kUnknownStation);
            continue;
          }

          // Every field is assigned, so nothing carries over between records.
          sendLogData.lineId = station->second.lineId;
          sendLogData.stationId = station->second.stationId;
          sendLogData.operateTime = std::move(operateTime);
          sendLogData.operator_.clear();
          sendLogData.userShortName.clear();
          sendLogData.userName = std::move(userName);
          sendLogData.roleName.clear();
          sendLogData.workstation = std::move(workstation);
          sendLogData.major = app->second;
          sendLogData.subSystem.clear();
          sendLogData.eventType = kEventType;
          sendLogData.guid = std::move(guid);
          sendLogData.target.clear();
          sendLogData.description = std::move(chardesc);
          sendLogData.result.clear();
          sendLogData.lineName = station->second.lineDesc;
          sendLogData.stationName = station->second.stationDesc;

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
