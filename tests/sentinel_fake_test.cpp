// Sentinel discovery against a scripted Sentinel, for replies real Sentinels
// don't give: unhealthy flags, several masters, errors and malformed entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "redis/redis_client.h"
#include "tests/support/scripted_resp_server.h"
#include "tests/support/test_env.h"

namespace {

using Args = std::vector<std::string>;
using Texts = std::vector<std::string>;

// One "SENTINEL masters" entry in the order a Sentinel sends its fields.
std::string masterEntry(const std::string& name, const std::string& ip, int port,
                        const std::string& flags) {
  return respTexts({"name", name, "ip", ip, "port", std::to_string(port), "runid", "0f",
                    "flags", flags, "num-slaves", "1", "quorum", "2"});
}

std::string slaveEntry(const std::string& ip, int port, const std::string& flags) {
  return respTexts({"name", ip + ":" + std::to_string(port), "ip", ip, "port",
                    std::to_string(port), "flags", flags, "master-port", "6379"});
}

class ScriptedSentinelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sentinel_.start());
    root_.writeCfg("rdsset.ini", "");  // every setting at its default
    redisOpt_.reset(new RedisClient());
    redisOpt_->mode = 3;
    redisOpt_->sentinelAddrs = {sentinel_.address()};
    redisOpt_->setCommandTimeout(1, 0);
  }

  TempRoot root_;
  ScriptedRespServer sentinel_;
  std::unique_ptr<RedisClient> redisOpt_;
};

TEST_F(ScriptedSentinelTest, MasterRejectedForAnyCharacterOfODownSlaveOnlyForSDown) {
  sentinel_.setReply("SENTINEL masters",
                     respArray({masterEntry("m1", "127.0.0.1", 7001, "master"),
                                masterEntry("m2", "127.0.0.1", 7002, "master,disconnected"),
                                masterEntry("m3", "127.0.0.1", 7003, "s_down,master")}));
  sentinel_.setReply("SENTINEL slaves m3",
                     respArray({slaveEntry("127.0.0.1", 7101, "slave"),
                                slaveEntry("127.0.0.1", 7102, "slave,disconnected"),
                                slaveEntry("127.0.0.1", 7103, "s_down,slave")}));
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), 1);
  EXPECT_EQ(redisOpt_->masterAddrs, Texts{"127.0.0.1:7001"});
  EXPECT_EQ(redisOpt_->slaveAddrs, (Texts{"127.0.0.1:7101", "127.0.0.1:7102"}));
  // The name of the last entry is kept, healthy or not.
  EXPECT_STREQ(redisOpt_->masterName, "m3");
  EXPECT_EQ(sentinel_.commands(),
            (std::vector<Args>{{"SENTINEL", "masters"}, {"SENTINEL", "slaves", "m3"}}));

  // A Sentinel listing no healthy master or slave empties both lists.
  sentinel_.setReply("SENTINEL masters",
                     respArray({masterEntry("m3", "127.0.0.1", 7003, "o_down,master")}));
  sentinel_.setReply("SENTINEL slaves m3", respArray({}));
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), -1);
  EXPECT_TRUE(redisOpt_->masterAddrs.empty());
  EXPECT_TRUE(redisOpt_->slaveAddrs.empty());
}

TEST_F(ScriptedSentinelTest, TwoMastersAreBothKeptAndSlavesAskedForTheLast) {
  sentinel_.setReply("SENTINEL masters",
                     respArray({masterEntry("alpha", "127.0.0.1", 7001, "master"),
                                masterEntry("beta", "127.0.0.1", 7002, "master")}));
  sentinel_.setReply("SENTINEL slaves beta", respArray({slaveEntry("127.0.0.1", 7102, "slave")}));
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), 1);
  EXPECT_EQ(redisOpt_->masterAddrs, (Texts{"127.0.0.1:7001", "127.0.0.1:7002"}));
  EXPECT_EQ(redisOpt_->slaveAddrs, Texts{"127.0.0.1:7102"});
  EXPECT_EQ(sentinel_.commands().back(), (Args{"SENTINEL", "slaves", "beta"}));
}

TEST_F(ScriptedSentinelTest, FailedMastersQueryKeepsListAndStillAsksSlavesForPreviousName) {
  // Before any successful walk the name is empty.
  sentinel_.setReply("SENTINEL masters", respError("ERR boom"));
  sentinel_.setReply("SENTINEL slaves ", respArray({slaveEntry("127.0.0.1", 7100, "slave")}));
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), -1);
  EXPECT_TRUE(redisOpt_->masterAddrs.empty());
  EXPECT_EQ(redisOpt_->slaveAddrs, Texts{"127.0.0.1:7100"});
  EXPECT_EQ(sentinel_.commands().back(), (Args{"SENTINEL", "slaves", ""}));

  sentinel_.setReply("SENTINEL masters", respArray({masterEntry("m", "127.0.0.1", 7001, "master")}));
  sentinel_.setReply("SENTINEL slaves m", respArray({slaveEntry("127.0.0.1", 7101, "slave")}));
  ASSERT_EQ(redisOpt_->discoverFromSentinels(), 1);

  for (const std::string& bad : {respError("ERR boom"), respInteger(3), respStatus("OK")}) {
    sentinel_.setReply("SENTINEL masters", bad);
    EXPECT_EQ(redisOpt_->discoverFromSentinels(), -1);
    EXPECT_EQ(redisOpt_->masterAddrs, Texts{"127.0.0.1:7001"});
    EXPECT_EQ(redisOpt_->slaveAddrs, Texts{"127.0.0.1:7101"});
    EXPECT_EQ(sentinel_.commands().back(), (Args{"SENTINEL", "slaves", "m"}));
  }

  // An error to the slaves query leaves the slave list alone too.
  sentinel_.setReply("SENTINEL masters", respArray({masterEntry("m", "127.0.0.1", 7002, "master")}));
  sentinel_.setReply("SENTINEL slaves m", respError("ERR no such master"));
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), 1);
  EXPECT_EQ(redisOpt_->masterAddrs, Texts{"127.0.0.1:7002"});
  EXPECT_EQ(redisOpt_->slaveAddrs, Texts{"127.0.0.1:7101"});
}

TEST_F(ScriptedSentinelTest, SentinelHangingUpLeavesBothListsAndNextDiscoveryRecovers) {
  redisOpt_->masterAddrs = {"127.0.0.1:7001"};
  redisOpt_->slaveAddrs = {"127.0.0.1:7101"};
  sentinel_.setReply("SENTINEL masters", ScriptedRespServer::kHangUp);
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), -1);
  EXPECT_EQ(redisOpt_->masterAddrs, Texts{"127.0.0.1:7001"});
  EXPECT_EQ(redisOpt_->slaveAddrs, Texts{"127.0.0.1:7101"});
  // The broken connection is not used for the slaves query.
  EXPECT_EQ(sentinel_.commands().size(), 1u);

  sentinel_.setReply("SENTINEL masters", respArray({masterEntry("m", "127.0.0.1", 7002, "master")}));
  sentinel_.setReply("SENTINEL slaves m", respArray({}));
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), 1);
  EXPECT_EQ(redisOpt_->masterAddrs, Texts{"127.0.0.1:7002"});
  EXPECT_TRUE(redisOpt_->slaveAddrs.empty());
  EXPECT_EQ(sentinel_.connectionsAccepted(), 2);
}

TEST_F(ScriptedSentinelTest, MalformedEntriesArePassedOverWithoutStoppingTheWalk) {
  const std::string longHost(60, 'h');
  const std::string longName(60, 'n');
  sentinel_.setReply(
      "SENTINEL masters",
      respArray({
          masterEntry("a", "ha", 7001, "master"),
          respTexts({"name", "b", "port", "7002", "flags", "master"}),  // host of a
          respTexts({"flags", "master"}),                               // host, port of b
          respArray({respBulk("ip"), respInteger(5), respBulk("port"), respBulk("7003"),
                     respBulk("flags"), respBulk("master")}),  // integer ip: host kept
          respTexts({"ip", "hb", "port", "7004", "name", "d"}),  // no flags: not accepted
          respInteger(42),                                      // entry not an array
          "$-1\r\n",                                            // nil entry
          respArray({respTexts({"ip", "x"}), respInteger(1), "$-1\r\n", respBulk("flags"),
                     respBulk("master")}),                 // nested and nil elements
          respTexts({"name", "g", "flags", "master", "port"}),  // key word last: ignored
          respTexts({"ip", longHost, "port", "7008", "flags", "master"}),  // host too long
          respTexts({"flags"}),                                           // flags, no value
          masterEntry(longName, "hc", 7009, "master"),
      }));
  const std::string cutName(kMaxRedisHost, 'n');
  sentinel_.setReply("SENTINEL slaves " + cutName,
                     respArray({respTexts({"ip", "sa", "port", "7101"}),  // no flags
                                respTexts({"flags", "slave", "port", "7102"}),
                                respTexts({"flags", "slave", "ip"})}));
  EXPECT_EQ(redisOpt_->discoverFromSentinels(), 1);
  EXPECT_EQ(redisOpt_->masterAddrs, (Texts{"ha:7001", "ha:7002", "ha:7002", "ha:7003",
                                           "hb:7004", "hb:7004", "hc:7009"}));
  EXPECT_EQ(std::string(redisOpt_->masterName), cutName);
  EXPECT_EQ(redisOpt_->slaveAddrs, (Texts{"sa:7102", "sa:7102"}));
  EXPECT_EQ(sentinel_.commands().back(), (Args{"SENTINEL", "slaves", cutName}));
}

}  // namespace
