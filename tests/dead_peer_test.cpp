// A Redis host that goes dark (powered off, cable cut): its packets are dropped,
// so no connection to it ever fails on its own. Runs inside a private network
// namespace with an nftables rule, never against a stopped process (whose kernel
// would still answer).
#include <sched.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "gtest/gtest.h"
#include "host/messages.h"
#include "redis/use_flag.h"
#include "tests/support/child_process.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitBoundMs = 60000;  // a dead peer must end a copy within this

class DeadPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare";
    if (runCommand({"nft", "--version"}, 5000) != 0) GTEST_SKIP() << "needs nftables";
    // This test process, and everything it starts, gets a network of its own.
    ASSERT_EQ(0, unshare(CLONE_NEWNET));
    ASSERT_EQ(0, runCommand({"ip", "link", "set", "lo", "up"}, 5000));
    ASSERT_TRUE(redis_.start());
  }

  // Drops every packet to the Redis port from now on.
  void blackholeRedis() {
    const std::string rules =
        "nft add table inet deadpeer && "
        "nft 'add chain inet deadpeer input { type filter hook input priority 0 ; }' && "
        "nft add rule inet deadpeer input tcp dport " + std::to_string(redis_.port()) + " drop";
    ASSERT_EQ(0, runCommand({"sh", "-c", rules}, 5000));
  }

  // rdsset.ini for mode 1 on our Redis, without a command time-out.
  std::string rdsset() const {
    return "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1\n"
           "MasterPort0=" + std::to_string(redis_.port()) + "\n[Format]\nOvertimeSec=0\n";
  }

  RedisServerProcess redis_;
};

TEST_F(DeadPeerTest, OwnerAndStandbyBothEndWhenTheirRedisGoesDark) {
  TempRoot ownerRoot, standbyRoot;
  for (TempRoot* r : {&ownerRoot, &standbyRoot}) {
    r->writeCfg("rdsset.ini", rdsset());
    r->writeCfg("logsynset.ini", "[synLogFlag]\nFlag=1\n");
  }
  TarvexInstance owner(ownerRoot.path(), "darkowner");
  ASSERT_TRUE(owner.start());
  ASSERT_TRUE(waitUntil([&] {
    return readFile(ownerRoot.logPath()).find(kOwnLine) != std::string::npos;
  }, 10000, 50));
  TarvexInstance standby(standbyRoot.path(), "darkstandby");
  ASSERT_TRUE(standby.start());
  // The standby is polling once it has logged its start and Redis has seen it read.
  ASSERT_TRUE(waitUntil([&] {
    return readFile(standbyRoot.logPath()).find(kStartLine) != std::string::npos;
  }, 10000, 50));
  ASSERT_TRUE(waitUntil([&] {
    return redis_.cli({"CLIENT", "LIST"}).find("cmd=hmget") != std::string::npos;
  }, 10000, 50));
  ASSERT_EQ("darkowner", redis_.cli({"HGET", kUseFlagKey, "host"}));

  blackholeRedis();
  const Clock::time_point dark = Clock::now();
  int ownerStatus = -1, standbyStatus = -1;
  const bool ownerEnded = owner.waitExit(kExitBoundMs, &ownerStatus);
  const double ownerSeconds = std::chrono::duration<double>(Clock::now() - dark).count();
  const int left = kExitBoundMs - static_cast<int>(ownerSeconds * 1000);
  const bool standbyEnded = standby.waitExit(left > 0 ? left : 1, &standbyStatus);
  const double standbySeconds = std::chrono::duration<double>(Clock::now() - dark).count();
  std::printf("after Redis went dark: owner ended %.1f s, standby %.1f s\n", ownerSeconds,
              standbySeconds);

  ASSERT_TRUE(ownerEnded);
  EXPECT_EQ(0, ownerStatus);
  EXPECT_NE(std::string::npos, readFile(ownerRoot.logPath()).find(kCloseLine));
  ASSERT_TRUE(standbyEnded);
  EXPECT_EQ(0, standbyStatus);
  EXPECT_NE(std::string::npos, readFile(standbyRoot.logPath()).find(kRedisErrorLine));
}

}  // namespace
