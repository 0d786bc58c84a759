// The real binary started twice on one host: the second copy must end at once,
// silently, with status 0.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "host/messages.h"
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
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

// Runs the binary as its own host with `setup` run first inside its namespaces
// (after the private /run/lock is mounted); returns its exit status or -1.
int runAsHost(const TempRoot& root, const std::string& setup, const std::string& prefix,
              int timeoutMs) {
  const std::string script = "mount -t tmpfs tmpfs /run/lock && " + setup + " && exec " +
                             prefix + " " + TARVEX_BINARY + " -self";
  ChildProcess child;
  if (!child.start({"unshare", "-u", "-m", "--propagation", "private", "sh", "-c", script},
                   {{"ZQROOT", root.path()}}, root.path() + "/output.txt")) {
    return -1;
  }
  int status = -1;
  return child.waitExit(timeoutMs, &status) ? status : -1;
}

TEST_F(EntryTest, WorkerThreadThatCannotStartEndsTheCopyWithItsClosingLine) {
  // The service account may run one thread: its main thread. Both workers fail.
  HttpTestServer receiver;
  ASSERT_TRUE(receiver.start());
  root_.writeCfg("logsynset.ini", "[synLogFlag]\nFlag=1\n[tovraurl]\nurl=" + receiver.url() +
                                      "\n");
  chmod(root_.path().c_str(), 0755);
  chmod((root_.path() + "/log").c_str(), 0777);
  const int status = runAsHost(root_, "true",
                               "prlimit --nproc=1:1 setpriv --reuid=65534 --regid=65534 "
                               "--clear-groups",
                               10000);
  EXPECT_EQ(0, status);
  const std::string log = readFile(root_.logPath());
  EXPECT_NE(std::string::npos, log.find(kOwnLine)) << log;
  EXPECT_NE(std::string::npos, log.find(kCloseLine)) << log;
  redis_.cli({"PUBLISH", "almTopic", "[{\"classname\":\"Control\"}]"});
  EXPECT_EQ(0u, receiver.requests().size());
}

TEST_F(EntryTest, UnopenableLockFileIsReportedAndTheCopyRunsUnguarded) {
  // A read-only, empty /run/lock: the lock file can neither be opened nor made.
  const int status = runAsHost(root_, "mount -o remount,ro /run/lock", "timeout -s KILL 3", 10000);
  EXPECT_EQ(128 + 9, status);  // it ran until stopped
  EXPECT_EQ("tarvex: instance lock /run/lock/htarvexMutex cannot be opened; running unguarded\n",
            readFile(root_.path() + "/output.txt"));
  EXPECT_NE(std::string::npos, readFile(root_.logPath()).find(kOwnLine));
}

}  // namespace
