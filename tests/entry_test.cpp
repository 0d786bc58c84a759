// The real binary started twice on one host: the second copy must end at once,
// silently, with status 0.
#include <gtest/gtest.h>

#include <string>

#include "host/messages.h"
#include "tests/support/child_process.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare -u -m";
    ASSERT_TRUE(redis_.start());
    root_.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\n"
                                 "MasterIp0=127.0.0.1\nMasterPort0=" +
                                     std::to_string(redis_.port()) + "\n");
    root_.writeCfg("logsynset.ini", "[synLogFlag]\nFlag=1\n");
  }

  RedisServerProcess redis_;
  TempRoot root_;
};

TEST_F(EntryTest, SecondInstanceEndsAtOnceSilently) {
  // The first copy runs as its own host with a private /run/lock; the second joins
  // that host's namespaces, so both contend for the same lock file.
  TarvexInstance first(root_.path(), "entryhost");
  ASSERT_TRUE(first.start({"-self"}));
  // Active once it has written its own name into the owner hash.
  ASSERT_TRUE(waitUntil([&] { return !redis_.cli({"HGET", "useflag:tarvex", "host"}).empty(); },
                        10000, 50));
  ASSERT_TRUE(waitUntil(
      [&] { return readFile(root_.logPath()).find(kOwnLine) != std::string::npos; }, 5000, 50));
  const std::string logBefore = readFile(root_.logPath());

  ChildProcess second;
  ASSERT_TRUE(second.start({"nsenter", "-t", std::to_string(first.process().pid()), "-m", "-u",
                            TARVEX_BINARY, "-self"},
                           {{"ZQROOT", root_.path()}}, root_.path() + "/second.txt"));
  int status = -1;
  ASSERT_TRUE(second.waitExit(2000, &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readFile(root_.path() + "/second.txt"), "");
  EXPECT_TRUE(first.process().running());
  EXPECT_EQ(readFile(root_.logPath()), logBefore);
  first.kill();
}

}  // namespace
