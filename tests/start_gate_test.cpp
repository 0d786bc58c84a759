// The real binary refusing to start on settings it cannot honour: a tarvex.ini it
// cannot read, and Durable=1 against a Redis older than 6.2. Each ends at once with
// status 0 and one stderr line, before a command reaches Redis beyond the version
// question.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/messages.h"
#include "redis/server_version.h"
#include "tests/support/child_process.h"
#include "tests/support/scripted_resp_server.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

constexpr int kEndsAtOnceMs = 10000;  // bound of a start that must stop by itself

using Args = std::vector<std::string>;

class StartGateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare -u -m";
    ASSERT_TRUE(redis_.start());
    root_.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\n"
                                 "MasterIp0=127.0.0.1\nMasterPort0=" +
                                     std::to_string(redis_.port()) + "\n");
    root_.writeCfg("logsynset.ini", "[synLogFlag]\nFlag=1\n");
  }

  // Runs `prefix tarvex -self` as its own host with a private /run/lock; returns its
  // exit status (-1: still running after kEndsAtOnceMs) and its output in output_.
  int runAsHost(const std::string& prefix = "") {
    const std::string output = root_.path() + "/output.txt";
    writeFile(output, "");
    const std::string script = "mount -t tmpfs tmpfs /run/lock && exec " + prefix + " " +
                               TARVEX_BINARY + " -self";
    ChildProcess child;
    if (!child.start({"unshare", "-u", "-m", "--propagation", "private", "sh", "-c", script},
                     {{"ZQROOT", root_.path()}}, output)) {
      return -1;
    }
    int status = -1;
    const bool ended = child.waitExit(kEndsAtOnceMs, &status);
    output_ = readFile(output);
    return ended ? status : -1;
  }

  std::string optionsPath() const { return root_.cfgPath("tarvex.ini"); }

  ScriptedRespServer redis_;
  TempRoot root_;
  std::string output_;
};

TEST_F(StartGateTest, UnreadableOptionsFileStopsTheStartBeforeRedisIsTouched) {
  // A directory in the file's place.
  ASSERT_EQ(0, mkdir(optionsPath().c_str(), 0755));
  EXPECT_EQ(0, runAsHost());
  EXPECT_EQ("tarvex: " + optionsPath() +
                " cannot be read (Is a directory); not starting without its settings\n",
            output_);

  // A file without read permission, for a service account (root reads any file).
  ASSERT_EQ(0, rmdir(optionsPath().c_str()));
  root_.writeCfg("tarvex.ini", "[Durable]\nDurable=1\n");
  ASSERT_EQ(0, chmod(optionsPath().c_str(), 0));
  ASSERT_EQ(0, chmod(root_.path().c_str(), 0755));
  ASSERT_EQ(0, chmod((root_.path() + "/log").c_str(), 0777));
  std::remove(root_.logPath().c_str());  // root's run log: the account could not write it
  EXPECT_EQ(0, runAsHost("setpriv --reuid=65534 --regid=65534 --clear-groups"));
  EXPECT_EQ("tarvex: " + optionsPath() +
                " cannot be read (Permission denied); not starting without its settings\n",
            output_);

  EXPECT_EQ(0, redis_.connectionsAccepted());
  EXPECT_EQ(std::string::npos, readFile(root_.logPath()).find(kOwnLine));
}

TEST_F(StartGateTest, DurableStartAgainstRedisOlderThan62Stops) {
  root_.writeCfg("tarvex.ini", "[Durable]\nDurable=1\n");
  redis_.setReply("INFO server", respBulk("# Server\r\nredis_version:6.0.16\r\nredis_mode:"
                                          "standalone\r\n"));
  EXPECT_EQ(0, runAsHost());
  EXPECT_EQ("tarvex: Durable=1 needs Redis 6.2 or later (XAUTOCLAIM), but master " +
                redis_.address() + " runs 6.0.16; not starting\n",
            output_);
  EXPECT_EQ(redis_.commands(), (std::vector<Args>{{"INFO", "server"}}));

  // A version it cannot tell (INFO refused to an ACL user) lets the start go on; this
  // fake then fails the owner hash, so the copy ends as with any Redis error.
  redis_.setReply("INFO server", respError("NOPERM this user has no permissions to run "
                                           "the 'info' command"));
  EXPECT_EQ(0, runAsHost());
  EXPECT_EQ(std::string::npos, output_.find("not starting")) << output_;
  EXPECT_NE(std::string::npos, readFile(root_.logPath()).find(kRedisErrorLine));
  EXPECT_GT(redis_.commands().size(), 2u);
}

TEST(ServerVersionTest, VersionsAreComparedAsNumbers) {
  EXPECT_EQ("7.0.15", redisVersionFromInfo("# Server\r\nredis_git_sha1:0\r\nredis_version:"
                                           "7.0.15\r\nredis_mode:standalone\r\n"));
  EXPECT_EQ("", redisVersionFromInfo("# Server\r\nmy_redis_version:9.9.9\r\n"));
  EXPECT_EQ(ServerVersion::kOlder, compareRedisVersion("6.0.16", 6, 2));
  EXPECT_EQ(ServerVersion::kOlder, compareRedisVersion("5.9.99", 6, 2));
  EXPECT_EQ(ServerVersion::kAtLeast, compareRedisVersion("6.2.0", 6, 2));
  EXPECT_EQ(ServerVersion::kAtLeast, compareRedisVersion("6.10.1", 6, 2));
  EXPECT_EQ(ServerVersion::kAtLeast, compareRedisVersion("10.0.0", 6, 2));
  EXPECT_EQ(ServerVersion::kUnknown, compareRedisVersion("7", 6, 2));
  EXPECT_EQ(ServerVersion::kUnknown, compareRedisVersion("", 6, 2));
}

}  // namespace
