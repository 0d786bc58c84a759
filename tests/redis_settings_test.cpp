#include "config/redis_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace {

using Texts = std::vector<std::string>;

class RedisSettingsTest : public ::testing::Test {
 protected:
  // Writes rdsset.ini (unless `content` is null) and loads it into settings_.
  void load(const char* content) {
    if (content != nullptr) root_.writeCfg("rdsset.ini", content);
    EXPECT_EQ(1, settings_.loadSettings());
  }

  TempRoot root_;
  RedisSettings settings_;
};

TEST_F(RedisSettingsTest, AbsentFileGivesMasterModeWithNoAddress) {
  load(nullptr);
  EXPECT_EQ(1, settings_.mode);
  EXPECT_EQ(0, settings_.timeoutSec);
  EXPECT_EQ(0, settings_.timeoutUsec);
  EXPECT_TRUE(settings_.masterAddrs.empty());
  EXPECT_TRUE(settings_.slaveAddrs.empty());
  EXPECT_TRUE(settings_.sentinelAddrs.empty());
}

TEST_F(RedisSettingsTest, MasterSlaveModeKeepsIndexOrder) {
  load("[ConnectionMode]\nMode=2\n"
       "[Format]\nOvertimeSec=3\nOvertimeUsec=250000\n"
       "[ConnectionMaster]\nMasterNum=1\nMasterIp0=10.0.0.1\nMasterPort0=7000\n"
       "[ConnectionSlave]\nSlaveNum=2\n"
       "SlaveIp1=slave-b\nSlavePort1=7002\nSlaveIp0=slave-a\nSlavePort0=7001\n"
       "[Sentinel]\nSentinelNum=1\n");
  EXPECT_EQ(2, settings_.mode);
  EXPECT_EQ(3, settings_.timeoutSec);
  EXPECT_EQ(250000, settings_.timeoutUsec);
  EXPECT_EQ(Texts({"10.0.0.1:7000"}), settings_.masterAddrs);
  EXPECT_EQ(Texts({"slave-a:7001", "slave-b:7002"}), settings_.slaveAddrs);
  EXPECT_TRUE(settings_.sentinelAddrs.empty());
}

TEST_F(RedisSettingsTest, MissingEntryKeysGiveDefaultAddress) {
  load("[ConnectionMode]\nMode=1\n"
       "[ConnectionMaster]\nMasterNum=2\nMasterIp0=redis-a\nMasterPort0=6400\n"
       "[ConnectionSlave]\nSlaveNum=1\nSlaveIp0=s\nSlavePort0=2\n");
  EXPECT_EQ(Texts({"redis-a:6400", "127.0.0.1:6379"}), settings_.masterAddrs);
  EXPECT_TRUE(settings_.slaveAddrs.empty());  // mode 1 reads no slaves

  // Entries are numbered from 0: MasterIp1 is not the first entry.
  load("[ConnectionMaster]\nMasterNum=1\nMasterIp1=redis-a\nMasterPort1=6400\n");
  EXPECT_EQ(Texts({"127.0.0.1:6379"}), settings_.masterAddrs);
}

TEST_F(RedisSettingsTest, SentinelModeDefaultsToSentinelPort) {
  load("[ConnectionMode]\nMode=3\n"
       "[ConnectionMaster]\nMasterNum=1\nMasterIp0=m\nMasterPort0=1\n"
       "[Sentinel]\nSentinelNum=3\nSentinelIp0=s0\nSentinelIp1=s1\nSentinelIp2=s2\n");
  EXPECT_EQ(3, settings_.mode);
  EXPECT_EQ(Texts({"s0:26379", "s1:26379", "s2:26379"}), settings_.sentinelAddrs);
  EXPECT_TRUE(settings_.masterAddrs.empty());
  EXPECT_TRUE(settings_.slaveAddrs.empty());
}

TEST_F(RedisSettingsTest, NumbersUseAutomaticBase) {
  load("[ConnectionMode]\nMode=0x2\n"
       "[Format]\nOvertimeSec=-1\nOvertimeUsec=010\n"
       "[ConnectionMaster]\nMasterNum=3\n"
       "MasterPort0=0x18EB\nMasterPort1=06379\nMasterPort2=port\n"
       "[ConnectionSlave]\nSlaveNum=-2\n");
  EXPECT_EQ(2, settings_.mode);
  EXPECT_EQ(-1, settings_.timeoutSec);
  EXPECT_EQ(8, settings_.timeoutUsec);
  // 06379 is octal up to the 9: 0637 = 415. A text without digits reads as 0.
  EXPECT_EQ(Texts({"127.0.0.1:6379", "127.0.0.1:415", "127.0.0.1:0"}), settings_.masterAddrs);
  EXPECT_TRUE(settings_.slaveAddrs.empty());
}

TEST_F(RedisSettingsTest, OtherModeReadsNoList) {
  load("[ConnectionMode]\nMode=5\n"
       "[ConnectionMaster]\nMasterNum=1\n[ConnectionSlave]\nSlaveNum=1\n"
       "[Sentinel]\nSentinelNum=1\n");
  EXPECT_EQ(5, settings_.mode);
  EXPECT_TRUE(settings_.masterAddrs.empty());
  EXPECT_TRUE(settings_.slaveAddrs.empty());
  EXPECT_TRUE(settings_.sentinelAddrs.empty());
}

TEST_F(RedisSettingsTest, HugeCountIsCapped) {
  load("[ConnectionMaster]\nMasterNum=2147483647\nMasterIp0=first\n");
  ASSERT_EQ(static_cast<std::size_t>(kMaxRedisEntries), settings_.masterAddrs.size());
  EXPECT_EQ("first:6379", settings_.masterAddrs.front());
  EXPECT_EQ("127.0.0.1:6379", settings_.masterAddrs.back());
}

}  // namespace
