#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/sync_config.h"
#include "host/run_log.h"
#include "platform/clock.h"
#include "tests/support/test_env.h"

namespace {

constexpr std::size_t kStampBytes = 24;  // "YYYY-MM-DD HH:MM:SS.mmm "
// "tovra操作日志同步" in GBK, the head of every run-log line.
const std::string kHead = "tovra\xB2\xD9\xD7\xF7\xC8\xD5\xD6\xBE\xCD\xAC\xB2\xBD";

class RunLogTest : public ::testing::Test {
 protected:
  void setSwitch(const std::string& value) {
    root_.writeCfg("logsynset.ini", "[tovraurl]\nurl=http://127.0.0.1:1/\n[synLogFlag]\nFlag=" +
                                        value + "\n");
  }

  // The run-log lines written so far, without their time stamps.
  std::vector<std::string> loggedLines() const {
    std::vector<std::string> out;
    const std::string text = readFile(root_.logPath());
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      out.push_back(text.substr(pos + kStampBytes, end - pos - kStampBytes));
      pos = end + 1;
    }
    return out;
  }

  static std::string line(int seq, const std::string& text) {
    return kHead + "No=" + std::to_string(seq) + ",data:" + text + " --";
  }

  TempRoot root_;
};

TEST_F(RunLogTest, FirstCallRereadsTheSwitchAndStartsAtZero) {
  setSwitch("0");
  RunLog config(SyncConfig().logFlag);
  ASSERT_EQ(0, config.logFlag);
  setSwitch("1");

  const int64_t before = wallSeconds();
  EXPECT_EQ(1, config.WriteRunLog("hello"));
  EXPECT_EQ(1, config.logFlag);
  EXPECT_GE(config.flagReadTime, before);
  EXPECT_EQ(1, config.logSeq);
  EXPECT_EQ(std::vector<std::string>{line(0, "hello")}, loggedLines());
}

TEST_F(RunLogTest, SwitchIsRereadOnlyAfterThirtySeconds) {
  setSwitch("1");
  RunLog config(SyncConfig().logFlag);
  EXPECT_EQ(1, config.WriteRunLog("a"));
  const int64_t readAt = config.flagReadTime;

  // Switched off in the file: a call within 30 s still writes.
  setSwitch("0");
  EXPECT_EQ(1, config.WriteRunLog("b"));
  EXPECT_EQ(readAt, config.flagReadTime);

  // Clock set back an hour: the difference is negative, no re-read.
  config.flagReadTime = wallSeconds() + 3600;
  EXPECT_EQ(1, config.WriteRunLog("c"));

  // More than 30 s later the switch is read: off, no line, no number used.
  config.flagReadTime = wallSeconds() - 31;
  EXPECT_EQ(0, config.WriteRunLog("d"));
  EXPECT_EQ(0, config.logFlag);
  EXPECT_EQ(3, config.logSeq);
  EXPECT_EQ(0, config.WriteRunLog("e"));

  // Back on, in hexadecimal: numbering goes on where it stopped.
  setSwitch("0x10");
  config.flagReadTime -= 31;
  EXPECT_EQ(1, config.WriteRunLog("f"));
  EXPECT_EQ((std::vector<std::string>{line(0, "a"), line(1, "b"), line(2, "c"), line(3, "f")}),
            loggedLines());
}

TEST_F(RunLogTest, MissingFileTurnsTheLogOff) {
  setSwitch("1");
  RunLog config(SyncConfig().logFlag);
  removeTree(root_.cfgPath("logsynset.ini"));
  EXPECT_EQ(0, config.WriteRunLog("gone"));
  EXPECT_EQ(0, config.logSeq);
  EXPECT_TRUE(loggedLines().empty());
}

TEST_F(RunLogTest, NumbersWrapAfterTenThousand) {
  setSwitch("1");
  RunLog config(SyncConfig().logFlag);
  config.logSeq = 10000;
  config.WriteRunLog("last");
  config.WriteRunLog("again");
  EXPECT_EQ((std::vector<std::string>{line(10000, "last"), line(0, "again")}), loggedLines());
  EXPECT_EQ(1, config.logSeq);
}

TEST_F(RunLogTest, TextBytesPassUnchanged) {
  setSwitch("1");
  RunLog config(SyncConfig().logFlag);
  const std::string percents = "100% %s %d %n %%";
  const std::string gbk = "\xBA\xCF\xD5\xA2 \"12\"";  // "合闸" in GBK
  config.WriteRunLog(percents);
  config.WriteRunLog("");
  config.WriteRunLog(gbk);
  EXPECT_EQ((std::vector<std::string>{line(0, percents), kHead + "No=1,data: --", line(2, gbk)}),
            loggedLines());
}

}  // namespace
