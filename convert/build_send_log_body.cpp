#include "convert/build_send_log_body.h"

#include <time.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "convert/gbk_codec.h"
#include "convert/message_scanner.h"
#include "convert/platform_log_info.h"
#include "convert/record_fields.h"
#include "telemetry/metrics.h"

namespace {

constexpr const char* kControlClass = "Control";  // the only class converted
constexpr const char* kEventType = "122";          // eventType of every record
constexpr std::size_t kSmallDocumentBytes = 4096;  // reserved beyond the texts' share
constexpr std::size_t kKeptMemberBytes = 64u << 10;  // larger member buffers are not reused
// A text this long is read twice: once to check that it reads whole, without
// keeping anything, then converted with its run-log lines written at once; holding
// them until the text proved whole would keep a copy of a large description.
constexpr std::size_t kCheckFirstBytes = 64u << 10;

// Reads a text and keeps nothing: the first pass over a long text.
class DiscardingSink : public MessageScanner::RecordSink {
 public:
  void onRecord(MessageScanner::Record&) override {}
};

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

// Turns the records of one text into document records as the scanner reads them,
// so that nothing is held per element. What a text adds stays provisional until
// commit(): the caller rolls the document back when the scanner refuses the text
// later, and the counts and run-log lines of a refused text are never made.
class RecordWriter : public MessageScanner::RecordSink {
 public:
  RecordWriter(const SyncConfig& config, std::string& document, RunLogLines* lines)
      : config_(config), document_(document), lines_(lines) {
    sendLogData_.eventType = kEventType;  // the fields never set below stay empty
  }

  // A new text begins: what the last one left uncommitted is forgotten. With
  // `deferLines` its run-log lines wait for commit(); without, they are written at
  // once (a text already known to read whole).
  void beginText(bool deferLines) {
    deferLines_ = deferLines;
    for (uint64_t& n : skipped_) n = 0;
    converted_ = 0;
    logLines_.clear();
  }

  void onRecord(MessageScanner::Record& record) override {
    if (!record.isObject) {
      ++skipped_[static_cast<int>(SkipReason::kNotObject)];
      return;
    }
    std::string* const member = record.text;
    const std::string& classname = member[MessageScanner::kClassname];
    if (classname != kControlClass) {
      ++skipped_[static_cast<int>(SkipReason::kNotControl)];
      return;
    }
    const int32_t occurtime = decimalInt32(member[MessageScanner::kOccurtime]);
    const auto app = config_.appSystems.find(decimalInt32(member[MessageScanner::kAppsysid]));
    if (app == config_.appSystems.end()) {
      ++skipped_[static_cast<int>(SkipReason::kUnknownAppSystem)];
      return;
    }
    std::string& chardesc = member[MessageScanner::kChardesc];
    if (lines_ != nullptr && lines_->wanted()) {
      if (deferLines_) {
        logLines_.push_back(gbk_.toGbk(chardesc));
      } else {
        lines_->write(gbk_.toGbk(chardesc));
      }
    }

    const auto station = config_.stations.find(member[MessageScanner::kGroupname]);
    if (station == config_.stations.end()) {
      ++skipped_[static_cast<int>(SkipReason::kUnknownStation)];
      return;
    }

    // The fields that differ between records, written into the buffers of the
    // last record; the constant ones were set once.
    PLATFORMLOGINFO& out = sendLogData_;
    operateTimeText(occurtime, &out.operateTime);
    out.userName.swap(member[MessageScanner::kUserName]);
    out.workstation.swap(member[MessageScanner::kWorkstation]);
    out.description.swap(chardesc);  // not copied: the scanner clears it anyway
    std::string& guid = out.guid;
    guid.clear();
    // Room for all of it at once: growing a long guid piece by piece copies it.
    guid.reserve(12 + member[MessageScanner::kOccurms].size() +
                 member[MessageScanner::kDevicekey].size() + classname.size() + 3);
    appendDecimal(occurtime, &guid);
    guid += ':';
    guid += member[MessageScanner::kOccurms];
    guid += ':';
    guid += member[MessageScanner::kDevicekey];
    guid += ':';
    guid += classname;
    out.lineId.assign(station->second.lineId);
    out.stationId.assign(station->second.stationId);
    out.major.assign(app->second);
    out.lineName.assign(station->second.lineDesc);
    out.stationName.assign(station->second.stationDesc);
    // A member text of many megabytes is not kept for the next record: its bytes
    // are in the record's fields now, and the document is about to hold them too.
    for (int m = 0; m < MessageScanner::kMemberCount; ++m) {
      if (member[m].capacity() > kKeptMemberBytes) std::string().swap(member[m]);
    }

    if (records_ + converted_ > 0) document_.push_back(',');
    appendJson(out, &document_);
    ++converted_;
  }

  // The text was read whole: its records, counts and run-log lines stand.
  void commit() {
    for (int r = 0; r < static_cast<int>(SkipReason::kCount); ++r) {
      for (uint64_t i = 0; i < skipped_[r]; ++i) metricsRecordSkipped(static_cast<SkipReason>(r));
    }
    for (uint64_t i = 0; i < converted_; ++i) metricsRecordConverted();
    for (std::string& line : logLines_) lines_->write(std::move(line));
    records_ += converted_;
    beginText(deferLines_);
  }

  uint64_t records() const { return records_; }

 private:
  const SyncConfig& config_;
  std::string& document_;
  RunLogLines* const lines_;  // null: no run-log lines are made
  GbkCodec gbk_;  // the run-log copy of descriptions
  PLATFORMLOGINFO sendLogData_;
  bool deferLines_ = true;  // run-log lines wait for commit()
  uint64_t records_ = 0;    // records committed to the document
  uint64_t converted_ = 0;  // records the current text added so far
  uint64_t skipped_[static_cast<int>(SkipReason::kCount)] = {};
  std::vector<std::string> logLines_;  // run-log lines of the current text
};

}  // namespace

int BuildSendLogBody(const SyncConfig& config, const std::vector<std::string>& batch,
                     std::string& body, RunLogLines* lines) {
  return BuildSendLogBody(config, batch.data(), batch.size(), body, nullptr, lines);
}

int BuildSendLogBody(const SyncConfig& config, const std::string* texts, std::size_t count,
                     std::string& body, std::vector<std::size_t>* failedTexts,
                     RunLogLines* lines) {
  try {
    // The document text, built record by record: "[", objects separated by ",".
    // Documents come out about as long as the texts they are made from, or up to
    // twice as long for small records, which the dictionaries' texts lengthen. The
    // room is reserved once (pages never written are never resident), so that a
    // large document is not copied while it grows.
    std::string bodysender;
    std::size_t textBytes = 0;
    for (std::size_t i = 0; i < count; ++i) textBytes += texts[i].size();
    bodysender.reserve(2 * textBytes + kSmallDocumentBytes);
    bodysender = "[";
    MessageScanner scanner;
    RecordWriter writer(config, bodysender, lines);
    tzset();  // the zone of every operateTimeText below

    for (std::size_t i = 0; i < count; ++i) {
      // A text adds its records whole or not at all: anything thrown while it is
      // worked on, or a refusal after some of its records were written, takes the
      // document back to where the text began.
      const std::size_t mark = bodysender.size();
      const bool checkFirst = texts[i].size() >= kCheckFirstBytes;
      writer.beginText(!checkFirst);
      try {
        DiscardingSink discard;
        if ((checkFirst && scanner.read(texts[i], &discard) != MessageScanner::Outcome::kArray) ||
            scanner.read(texts[i], &writer) != MessageScanner::Outcome::kArray) {
          bodysender.resize(mark);
          metricsRecordSkipped(SkipReason::kUnreadableText);
          continue;
        }
        writer.commit();
      } catch (...) {
        bodysender.resize(mark);
        if (failedTexts != nullptr) failedTexts->push_back(i);
      }
    }

    if (writer.records() == 0) return -1;
    bodysender += "]\n";
    body = std::move(bodysender);
    return 1;
  } catch (...) {
    // Only memory exhaustion gets here; the caller's body is untouched.
    return 0;
  }
}
