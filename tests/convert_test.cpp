// Batch conversion of operation-log messages into the receiving platform's document.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "config/sync_config.h"
#include "host/run_log.h"
#include "tests/support/test_env.h"
#include "tests/support/worked_example.h"

namespace {

// GBK bytes of the dictionary texts: "供电", "一号线", "车站".
const std::string kGbkSupply = "\xB9\xA9\xB5\xE7";
const std::string kGbkLine = "\xD2\xBB\xBA\xC5\xCF\xDF";
const std::string kGbkStation = "\xB3\xB5\xD5\xBE";


using Members = std::map<std::string, std::string>;

// The record of the worked example; tests change single members.
Members exampleRecord() {
  return {{"classname", "Control"},   {"occurtime", "1709629622"},
          {"occurms", "250"},         {"devicekey", "DEV.0042"},
          {"appsysid", "3"},          {"chardesc", "Breaker 12 closed"},
          {"userattr[0]", "op01"},    {"userattr[1]", "WS05"},
          {"groupname", "ST07"}};
}

// A JSON object of string members (values must not need escaping).
std::string object(const Members& members) {
  std::string out = "{";
  for (const auto& m : members) {
    if (out.size() > 1) out += ",";
    out += "\"" + m.first + "\":\"" + m.second + "\"";
  }
  return out + "}";
}

std::string message(const std::vector<Members>& records) {
  std::string out = "[";
  for (const auto& r : records) {
    if (out.size() > 1) out += ",";
    out += object(r);
  }
  return out + "]";
}

Members with(Members m, const std::string& key, const std::string& value) {
  m[key] = value;
  return m;
}

// Extracts the values of one member from a document, in order.
std::vector<std::string> values(const std::string& doc, const std::string& member) {
  std::vector<std::string> out;
  const std::string key = "\"" + member + "\":\"";
  for (std::size_t p = doc.find(key); p != std::string::npos; p = doc.find(key, p + 1)) {
    std::size_t start = p + key.size();
    out.push_back(doc.substr(start, doc.find('"', start) - start));
  }
  return out;
}

// A run-log line as the conversion writes it, without the time stamp.
std::string runLogLine(int seq, const std::string& data) {
  // "tovra操作日志同步" in GBK.
  return "tovra\xB2\xD9\xD7\xF7\xC8\xD5\xD6\xBE\xCD\xAC\xB2\xBD" "No=" +
         std::to_string(seq) + ",data:" + data + " --";
}

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) oldTz_ = tz, hadTz_ = true;
    setenv("TZ", "UTC", 1);
    tzset();
    root_.writeCfg("logsynset.ini",
                   "[synLogFlag]\nFlag=1\n"
                   "[appSysId]\nappsysidnum=2\n"
                   "appsysid0=3\nappsysiddesc0=Power supply\n"
                   "appsysid1=7\nappsysiddesc1=" + kGbkSupply + "\n"
                   "[stationInfo]\nstationnum=2\n"
                   "stationlindid0=L2\nstationlinddesc0=Line 2\nstationid0=S07\n"
                   "stationdesc0=Station Seven\nstationcode0=ST07\n"
                   "stationlindid1=L1\nstationlinddesc1=" + kGbkLine + "\nstationid1=S01\n"
                   "stationdesc1=" + kGbkStation + "\nstationcode1=ST01\n");
    config_.reset(new SyncConfig());
    runLog_.reset(new RunLog(config_->logFlag));
  }
  void TearDown() override {
    runLog_.reset();
    config_.reset();
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }

  // Converts and returns the result; the document goes to body_.
  int convert(const std::vector<std::string>& batch) {
    return BuildSendLogBody(*config_, batch, body_, runLog_.get());
  }

  // Lines of the run-log file, without their "YYYY-MM-DD HH:MM:SS.mmm " stamps.
  std::vector<std::string> runLogLines() const {
    const std::string log = readFile(root_.logPath());
    std::vector<std::string> lines;
    for (std::size_t p = 0; p < log.size();) {
      std::size_t end = log.find('\n', p);
      if (end == std::string::npos) end = log.size();
      const std::string line = log.substr(p, end - p);
      lines.push_back(line.size() > kStampSize ? line.substr(kStampSize) : line);
      p = end + 1;
    }
    return lines;
  }
  static constexpr std::size_t kStampSize = 24;

  TempRoot root_;
  std::unique_ptr<SyncConfig> config_;
  std::unique_ptr<RunLog> runLog_;
  std::string body_;
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(ConvertTest, WorkedExampleGivesExactDocumentAndOneRunLogLine) {
  ASSERT_EQ(1, convert({message({exampleRecord()})}));
  EXPECT_EQ(kWorkedExampleDocument, body_);
  EXPECT_EQ((std::vector<std::string>{runLogLine(0, "Breaker 12 closed")}), runLogLines());
}

TEST_F(ConvertTest, RecordsFollowMessageOrderThenArrayOrder) {
  const Members r = exampleRecord();
  ASSERT_EQ(1, convert({message({with(r, "occurms", "1"), with(r, "occurms", "2")}), "[]",
                        message({with(r, "occurms", "3"), with(r, "occurms", "4")})}));
  EXPECT_EQ((std::vector<std::string>{"1709629622:1:DEV.0042:Control",
                                      "1709629622:2:DEV.0042:Control",
                                      "1709629622:3:DEV.0042:Control",
                                      "1709629622:4:DEV.0042:Control"}),
            values(body_, "guid"));
}

TEST_F(ConvertTest, NothingConvertedReturnsMinusOneAndLeavesBody) {
  body_ = "earlier";
  EXPECT_EQ(-1, convert({}));
  // Syntax errors, scalar roots, comments (also where the parser lets them pass), a
  // class in other case.
  EXPECT_EQ(-1, convert({"", "[", "\"Control\"", "42",
                         "[// note\n" + object(exampleRecord()) + "]",
                         "[{/* note */" + object(exampleRecord()).substr(1) + "]",
                         message({with(exampleRecord(), "classname", "control")})}));
  EXPECT_EQ("earlier", body_);
}

TEST_F(ConvertTest, FieldsAreReadAsTheReceiverExpects) {
  const Members r = exampleRecord();
  // Codes compare as numbers, times read like atoi, station codes byte for byte.
  ASSERT_EQ(1, convert({message({with(r, "appsysid", "03"),
                                 with(r, "occurtime", "0001709629622"),
                                 with(r, "occurtime", "abc"),
                                 with(r, "occurtime", " -17x"),
                                 with(r, "occurtime", "99999999999"),
                                 with(r, "occurtime", "-99999999999"),
                                 with(r, "groupname", " ST07"),
                                 with(r, "classname", "CONTROL")})}));
  EXPECT_EQ((std::vector<std::string>{"1709629622:250:DEV.0042:Control",
                                      "1709629622:250:DEV.0042:Control",
                                      "0:250:DEV.0042:Control",
                                      "-17:250:DEV.0042:Control",
                                      "2147483647:250:DEV.0042:Control",
                                      "-2147483648:250:DEV.0042:Control"}),
            values(body_, "guid"));
  EXPECT_EQ((std::vector<std::string>{"2024-3-5 9:7:2", "2024-3-5 9:7:2", "1970-1-1 0:0:0",
                                      "1969-12-31 23:59:43", "2038-1-19 3:14:7",
                                      "1901-12-13 20:45:52"}),
            values(body_, "operateTime"));
}

TEST_F(ConvertTest, ZoneChangeCountsFromTheNextBatch) {
  // The zone is looked up once per batch; nobody here calls tzset() after setenv.
  const std::string msg = message({exampleRecord()});
  ASSERT_EQ(1, convert({msg}));
  setenv("TZ", "Asia/Shanghai", 1);
  ASSERT_EQ(1, convert({msg}));
  EXPECT_EQ((std::vector<std::string>{"2024-3-5 17:7:2"}), values(body_, "operateTime"));
}

TEST_F(ConvertTest, ElementWithOnlyClassnameNeedsCodeZeroAndEmptyStation) {
  const std::string msg = "[{\"classname\":\"Control\"}]";
  EXPECT_EQ(-1, convert({msg}));
  config_->appSystems[0] = "Zero";
  config_->stations[""] = STATIONLOGINFO{"LX", "SX", "Line X", "Station X"};
  ASSERT_EQ(1, convert({msg}));
  EXPECT_EQ(
      "[{\"description\":\"\",\"eventType\":\"122\",\"guid\":\"0:::Control\",\"lineId\":\"LX\","
      "\"lineName\":\"Line X\",\"major\":\"Zero\",\"operateTime\":\"1970-1-1 0:0:0\","
      "\"operator\":\"\",\"result\":\"\",\"roleName\":\"\",\"stationId\":\"SX\","
      "\"stationName\":\"Station X\",\"subSystem\":\"\",\"target\":\"\",\"userName\":\"\","
      "\"userShortName\":\"\",\"workstation\":\"\"}]\n",
      body_);
}

TEST_F(ConvertTest, RunLogGetsDescriptionsThatPassClassAndApplicationChecks) {
  const Members r = exampleRecord();
  // UTF-8 "断路器" then a stray byte; the log copy is GBK with "?" for the stray byte.
  const std::string desc = "\xE6\x96\xAD\xE8\xB7\xAF\xE5\x99\xA8 \xFF";
  EXPECT_EQ(-1, convert({message({with(r, "appsysid", "99"), with(r, "classname", "Alarm"),
                                  with(with(r, "groupname", "ST99"), "chardesc", desc)})}));
  EXPECT_EQ((std::vector<std::string>{runLogLine(0, "\xB6\xCF\xC2\xB7\xC6\xF7 ?")}),
            runLogLines());
}

TEST_F(ConvertTest, BytesReachDocumentUnchangedWithOnlyJsonEscaping) {
  // UTF-8 "断路器" in the description; GBK names from the dictionaries.
  const std::string desc = "\xE6\x96\xAD\xE8\xB7\xAF\xE5\x99\xA8 A/B";
  Members r = with(with(exampleRecord(), "appsysid", "7"), "groupname", "ST01");
  r["chardesc"] = desc + " \\\"q\\\" \\\\ \\t";
  ASSERT_EQ(1, convert({message({r})}));
  EXPECT_EQ((std::vector<std::string>{kGbkSupply}), values(body_, "major"));
  EXPECT_EQ((std::vector<std::string>{kGbkLine}), values(body_, "lineName"));
  EXPECT_EQ((std::vector<std::string>{kGbkStation}), values(body_, "stationName"));
  EXPECT_NE(std::string::npos,
            body_.find("\"description\":\"" + desc + " \\\"q\\\" \\\\ \\t\""));
  EXPECT_EQ('\n', body_.back());
  EXPECT_EQ(body_.size() - 1, body_.find('\n'));
}

TEST_F(ConvertTest, UnexpectedShapesAreSkippedAndTheRestConverts) {
  const std::string good = message({exampleRecord()});
  const std::string deep(100000, '[');
  std::string nested;
  for (int i = 0; i < 1001; ++i) nested += "[";
  for (int i = 0; i < 1001; ++i) nested += "]";
  const std::string rootObject = object(exampleRecord());
  // Non-object elements, then numbers read as their decimal text and other kinds as "".
  const std::string mixed =
      "[1,\"Control\",null,[{\"classname\":\"Control\"}],"
      "{\"classname\":\"Control\",\"occurtime\":1709629622,\"appsysid\":3,\"occurms\":2.5,"
      "\"devicekey\":true,\"userattr[0]\":[\"op01\"],\"userattr[1]\":{\"a\":1},"
      "\"chardesc\":null,\"groupname\":\"ST07\"}]";
  ASSERT_EQ(1, convert({deep, good, nested, rootObject, mixed, good}));
  EXPECT_EQ((std::vector<std::string>{"1709629622:250:DEV.0042:Control",
                                      "1709629622:2.5::Control",
                                      "1709629622:250:DEV.0042:Control"}),
            values(body_, "guid"));
  EXPECT_EQ((std::vector<std::string>{"op01", "", "op01"}), values(body_, "userName"));
}

}  // namespace
