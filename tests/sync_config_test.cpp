#include "config/sync_config.h"

#include <gtest/gtest.h>

#include <string>

#include "host/run_log.h"
#include "tests/support/test_env.h"

namespace {

class SyncConfigTest : public ::testing::Test {
 protected:
  TempRoot root_;
};

TEST_F(SyncConfigTest, LoadsUrlSwitchAndDictionaries) {
  root_.writeCfg("logsynset.ini",
                 "[tovraurl]\nurl = http://127.0.0.1:8080/api/log?a=1\n"
                 "[synLogFlag]\nFlag=1\n"
                 "[appSysId]\nappsysidnum=2\nappsysid0=3\nappsysiddesc0=Power supply\n"
                 "appsysid1=0x10\nappsysiddesc1=\xB9\xA9\xB5\xE7\n"
                 "[stationInfo]\nstationnum=1\nstationcode0=ST07\nstationlindid0=L2\n"
                 "stationlinddesc0=Line 2\nstationid0=S07\nstationdesc0=Station Seven\n"
                 "[evevtType]\neventtypenum=1\neventtypecode0=E1\neventtypeid0=9\n"
                 "eventtypedesc0=Switch\n");
  SyncConfig config;
  EXPECT_STREQ(config.url, "http://127.0.0.1:8080/api/log?a=1");
  EXPECT_EQ(config.logFlag, 1);
  const RunLog runLog(config.logFlag);
  EXPECT_EQ(runLog.flagReadTime, 0);
  EXPECT_EQ(runLog.logSeq, 0);
  ASSERT_EQ(config.appSystems.size(), 2u);
  EXPECT_EQ(config.appSystems[3], "Power supply");
  EXPECT_EQ(config.appSystems[16], "\xB9\xA9\xB5\xE7");
  ASSERT_EQ(config.stations.count("ST07"), 1u);
  const STATIONLOGINFO& st = config.stations["ST07"];
  EXPECT_EQ(st.lineId, "L2");
  EXPECT_EQ(st.stationId, "S07");
  EXPECT_EQ(st.lineDesc, "Line 2");
  EXPECT_EQ(st.stationDesc, "Station Seven");
  ASSERT_EQ(config.eventTypes.count("E1"), 1u);
  EXPECT_EQ(config.eventTypes["E1"].eventTypeId, "9");
  EXPECT_EQ(config.eventTypes["E1"].eventTypeDesc, "Switch");
}

TEST_F(SyncConfigTest, LaterDuplicateIdWins) {
  root_.writeCfg("logsynset.ini",
                 "[appSysId]\nappsysidnum=2\nappsysid0=5\nappsysiddesc0=old\n"
                 "appsysid1=5\nappsysiddesc1=new\n");
  SyncConfig config;
  ASSERT_EQ(config.appSystems.size(), 1u);
  EXPECT_EQ(config.appSystems[5], "new");
}

TEST_F(SyncConfigTest, LaterStationReplacesAllFourTexts) {
  root_.writeCfg("logsynset.ini",
                 "[stationInfo]\nstationnum=2\n"
                 "stationcode0=A\nstationlindid0=L\nstationlinddesc0=LD\nstationid0=S\n"
                 "stationdesc0=SD\n"
                 "stationcode1=A\nstationid1=S2\n");
  SyncConfig config;
  ASSERT_EQ(config.stations.size(), 1u);
  EXPECT_EQ(config.stations["A"].stationId, "S2");
  EXPECT_EQ(config.stations["A"].lineId, "");
  EXPECT_EQ(config.stations["A"].lineDesc, "");
  EXPECT_EQ(config.stations["A"].stationDesc, "");
}

TEST_F(SyncConfigTest, CountsTakeAutomaticBaseAndNegativeGivesNone) {
  root_.writeCfg("logsynset.ini",
                 "[appSysId]\nappsysidnum=-1\nappsysid0=1\nappsysiddesc0=x\n"
                 "[stationInfo]\nstationnum=0x2\nstationcode0=A\nstationcode1=B\n"
                 "[evevtType]\neventtypenum=010\n");
  SyncConfig config;
  EXPECT_TRUE(config.appSystems.empty());
  EXPECT_EQ(config.stations.size(), 2u);
  // Eight event types, all without a code: one entry under the empty code.
  EXPECT_EQ(config.eventTypes.size(), 1u);
  EXPECT_EQ(config.eventTypes.count(""), 1u);
}

TEST_F(SyncConfigTest, CountLargerThanEntriesUsesDefaultsAndIgnoresHigherIndexes) {
  root_.writeCfg("logsynset.ini",
                 "[appSysId]\nappsysidnum=2\nappsysid0=4\nappsysiddesc0=four\n"
                 "[stationInfo]\nstationnum=2\nstationcode0=A\nstationid0=S\n"
                 "stationcode5=F\nstationid5=S5\n");
  SyncConfig config;
  ASSERT_EQ(config.appSystems.size(), 2u);
  EXPECT_EQ(config.appSystems[0], "");  // missing index 1: id 0, empty name
  ASSERT_EQ(config.stations.size(), 2u);
  EXPECT_EQ(config.stations["A"].stationId, "S");
  EXPECT_EQ(config.stations.count(""), 1u);
  EXPECT_EQ(config.stations.count("F"), 0u);
}

TEST_F(SyncConfigTest, HugeCountIsBoundedSoStartupEnds) {
  root_.writeCfg("logsynset.ini",
                 "[appSysId]\nappsysidnum=2147483647\nappsysid0=1\nappsysiddesc0=x\n");
  SyncConfig config;  // would scan the file four billion times without the bound
  EXPECT_EQ(config.appSystems.size(), 2u);
  EXPECT_EQ(config.appSystems[1], "x");
}

TEST_F(SyncConfigTest, MissingStationSectionGivesNoStations) {
  root_.writeCfg("logsynset.ini",
                 "[appSysId]\nappsysidnum=1\nappsysid0=1\nappsysiddesc0=x\n"
                 "[eventType]\neventtypenum=1\neventtypecode0=E\n");
  SyncConfig config;
  EXPECT_TRUE(config.stations.empty());
  EXPECT_TRUE(config.eventTypes.empty());  // only "evevtType" is looked for
}

TEST_F(SyncConfigTest, MissingFileGivesEmptyConfiguration) {
  testing::internal::CaptureStdout();
  SyncConfig config;
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_STREQ(config.url, "");
  EXPECT_EQ(config.logFlag, 0);
  EXPECT_TRUE(config.appSystems.empty());
  EXPECT_TRUE(config.stations.empty());
  EXPECT_TRUE(config.eventTypes.empty());
  std::string line = "have   no   such   file \n";
  EXPECT_EQ(out, line + line + line + line + line);
}

TEST_F(SyncConfigTest, OverlongTextsAreCut) {
  std::string longUrl = "http://127.0.0.1/" + std::string(600, 'u');
  std::string longName(300, 'n');
  root_.writeCfg("logsynset.ini",
                 "[tovraurl]\nurl=" + longUrl + "\n[appSysId]\nappsysidnum=1\nappsysid0=1\n"
                 "appsysiddesc0=" + longName + "\n");
  SyncConfig config;
  EXPECT_EQ(std::string(config.url), longUrl.substr(0, kMaxUrl));
  EXPECT_EQ(config.appSystems[1], longName.substr(0, kMaxDictText));
}

}  // namespace
