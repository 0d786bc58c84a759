// Sentinel mode against real redis-server and Sentinel processes on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "redis/redis_client.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/scripted_resp_server.h"
#include "tests/support/test_env.h"

namespace {

constexpr int kStartWaitMs = 10000;     // a replica or Sentinel settling after start
constexpr int kFailoverWaitMs = 30000;  // a forced failover reaching the clients
constexpr int kPollMs = 100;            // step of the bounded waits

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// Value after the first "flags" line that follows the line `from`, in redis-cli's
// one-element-per-line output; "" when absent.
std::string flagsAfter(const std::string& cliOut, const std::string& from) {
  std::vector<std::string> ls = lines(cliOut);
  std::size_t i = 0;
  while (i < ls.size() && ls[i] != from) ++i;
  for (; i + 1 < ls.size(); ++i) {
    if (ls[i] == "flags") return ls[i + 1];
  }
  return "";
}

std::string setKey(redisContext* c, const char* key, const char* value) {
  auto* r = static_cast<redisReply*>(redisCommand(c, "SET %s %s", key, value));
  RedisReplyPtr reply(r);
  if (reply == nullptr || reply->str == nullptr) return "";
  return reply->str;
}

class SentinelClusterTest : public ::testing::Test {
 protected:
  // A master with one replica whose link is up.
  void startMasterAndReplica() {
    // No diskless-sync delay: the replica comes online at once.
    ASSERT_TRUE(master_.start({"--repl-diskless-sync-delay", "0"}));
    ASSERT_TRUE(replica_.start({"--replicaof", "127.0.0.1", std::to_string(master_.port())}));
    ASSERT_TRUE(waitUntil(
        [&] { return master_.cli({"INFO", "replication"}).find("state=online") !=
                     std::string::npos; },
        kStartWaitMs, kPollMs));
  }

  // `count` Sentinels monitoring the master as "mymaster"; each has reached it.
  void startSentinels(int count, int quorum) {
    const std::string conf = "sentinel monitor mymaster 127.0.0.1 " +
                             std::to_string(master_.port()) + " " + std::to_string(quorum) +
                             "\nsentinel down-after-milliseconds mymaster 1000"
                             "\nsentinel failover-timeout mymaster 5000\n";
    for (int i = 0; i < count; ++i) {
      sentinels_.push_back(std::make_unique<RedisServerProcess>());
      ASSERT_TRUE(sentinels_.back()->startSentinel(conf));
    }
    for (auto& s : sentinels_) {
      ASSERT_TRUE(waitUntil(
          [&] { return flagsAfter(s->cli({"SENTINEL", "master", "mymaster"}), "name") ==
                       "master"; },
          kStartWaitMs, kPollMs));
    }
  }

  // Waits until Sentinel `i` lists the replica as a healthy, connected slave.
  bool sentinelSeesReplica(std::size_t i) {
    return waitUntil(
        [&] {
          return flagsAfter(sentinels_[i]->cli({"SENTINEL", "replicas", "mymaster"}),
                            replica_.address()) == "slave";
        },
        kStartWaitMs, kPollMs);
  }

  // rdsset.ini in Sentinel mode naming every Sentinel, with a 1 s time-out.
  void writeSettings() {
    std::string ini = "[ConnectionMode]\nMode=3\n[Format]\nOvertimeSec=1\nOvertimeUsec=0\n";
    ini += "[Sentinel]\nSentinelNum=" + std::to_string(sentinels_.size()) + "\n";
    for (std::size_t i = 0; i < sentinels_.size(); ++i) {
      ini += "SentinelIp" + std::to_string(i) + "=127.0.0.1\n";
      ini += "SentinelPort" + std::to_string(i) + "=" + std::to_string(sentinels_[i]->port()) +
             "\n";
    }
    root_.writeCfg("rdsset.ini", ini);
  }

  TempRoot root_;
  RedisServerProcess master_;
  RedisServerProcess replica_;
  std::vector<std::unique_ptr<RedisServerProcess>> sentinels_;
};

TEST_F(SentinelClusterTest, DiscoveryFillsMastersAndSlavesAndConnectUsesThem) {
  startMasterAndReplica();
  startSentinels(1, 1);
  writeSettings();
  RedisClient redisOpt;
  ASSERT_EQ(redisOpt.mode, 3);

  // The replica enters the Sentinel's view with the Sentinel's first look at the master.
  ASSERT_TRUE(waitUntil(
      [&] { return redisOpt.discoverFromSentinels() == 1 && !redisOpt.slaveAddrs.empty(); },
      kStartWaitMs, kPollMs));
  EXPECT_EQ(redisOpt.masterAddrs, std::vector<std::string>{master_.address()});
  EXPECT_EQ(redisOpt.slaveAddrs, std::vector<std::string>{replica_.address()});
  EXPECT_STREQ(redisOpt.masterName, "mymaster");

  redisOpt.connect(3);
  ASSERT_TRUE(redisUsable(redisOpt.readConn));
  ASSERT_TRUE(redisUsable(redisOpt.writeConn));
  EXPECT_EQ(redisOpt.readAddr.port, replica_.port());
  EXPECT_EQ(redisOpt.masterAddr.port, master_.port());
  EXPECT_EQ(setKey(redisOpt.writeConn.get(), "k", "v"), "OK");
}

TEST_F(SentinelClusterTest, ThreeSentinelsRotateAndOneDownFallsThroughToTheNext) {
  ASSERT_TRUE(master_.start());
  startSentinels(3, 2);
  writeSettings();
  RedisClient redisOpt;

  const int expected[] = {0, 1, 2, 0};
  for (int index : expected) {
    EXPECT_EQ(redisOpt.discoverFromSentinels(), 1);
    EXPECT_EQ(redisOpt.sentinelCursor, index);
    EXPECT_EQ(redisOpt.sentinelAddr.port, sentinels_[index]->port());
    EXPECT_TRUE(redisUsable(redisOpt.sentinelConn));
  }
  EXPECT_EQ(redisOpt.masterAddrs, std::vector<std::string>{master_.address()});

  sentinels_[1]->stop();
  EXPECT_EQ(redisOpt.discoverFromSentinels(), 1);  // starts at 1, answered by 2
  EXPECT_EQ(redisOpt.sentinelCursor, 2);
  EXPECT_EQ(redisOpt.sentinelAddr.port, sentinels_[2]->port());
  EXPECT_EQ(redisOpt.masterAddrs, std::vector<std::string>{master_.address()});
  EXPECT_EQ(redisOpt.discoverFromSentinels(), 1);
  EXPECT_EQ(redisOpt.sentinelCursor, 0);

  // With every Sentinel gone the lists of the last discovery stay for the connects.
  sentinels_[0]->stop();
  sentinels_[2]->stop();
  EXPECT_EQ(redisOpt.discoverFromSentinels(), -1);
  EXPECT_FALSE(redisUsable(redisOpt.sentinelConn));
  EXPECT_EQ(redisOpt.masterAddrs, std::vector<std::string>{master_.address()});
  redisOpt.connect(2);
  EXPECT_TRUE(redisUsable(redisOpt.writeConn));
}

TEST_F(SentinelClusterTest, ForcedFailoverMovesTheNextWriteConnectToTheNewMaster) {
  startMasterAndReplica();
  startSentinels(1, 1);
  writeSettings();
  RedisClient redisOpt;
  ASSERT_TRUE(sentinelSeesReplica(0));
  redisOpt.connect(3);
  ASSERT_TRUE(redisUsable(redisOpt.writeConn));
  ASSERT_EQ(redisOpt.masterAddr.port, master_.port());

  const auto begin = std::chrono::steady_clock::now();
  // Right after the replica appears the Sentinel may still judge it unfit; retry.
  ASSERT_TRUE(waitUntil(
      [&] { return sentinels_[0]->cli({"SENTINEL", "FAILOVER", "mymaster"}) == "OK"; },
      kStartWaitMs, kPollMs));
  const bool moved = waitUntil(
      [&] {
        redisOpt.connect(2);
        return redisUsable(redisOpt.writeConn) && redisOpt.masterAddr.port == replica_.port() &&
               setKey(redisOpt.writeConn.get(), "after", "failover") == "OK";
      },
      kFailoverWaitMs, kPollMs);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - begin).count();
  std::cout << "failover reached the client after " << ms << " ms\n";
  RecordProperty("failover_ms", static_cast<int>(ms));
  ASSERT_TRUE(moved);
  EXPECT_EQ(redisOpt.masterAddrs, std::vector<std::string>{replica_.address()});
  EXPECT_EQ(replica_.cli({"GET", "after"}), "failover");
}

TEST(SentinelModeTest, NoSentinelConfiguredMakesNoConnection) {
  TempRoot root;
  ScriptedRespServer server;  // would see any connection attempt
  ASSERT_TRUE(server.start());
  server.setDefaultReply(respStatus("OK"));
  // Master and slave sections are meaningless in Sentinel mode.
  root.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=3\n"
                              "[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1\n"
                              "MasterPort0=" + std::to_string(server.port()) + "\n"
                              "[ConnectionSlave]\nSlaveNum=1\nSlaveIp0=127.0.0.1\n"
                              "SlavePort0=" + std::to_string(server.port()) + "\n");
  RedisClient redisOpt;
  EXPECT_EQ(redisOpt.discoverFromSentinels(), 0);
  redisOpt.connect(3);
  EXPECT_EQ(redisOpt.sentinelCursor, -1);
  EXPECT_TRUE(redisOpt.masterAddrs.empty());
  EXPECT_TRUE(redisOpt.slaveAddrs.empty());
  EXPECT_EQ(redisOpt.sentinelConn, nullptr);
  EXPECT_EQ(redisOpt.readConn, nullptr);
  EXPECT_EQ(redisOpt.writeConn, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let a stray accept show
  EXPECT_EQ(server.connectionsAccepted(), 0);
}

}  // namespace
