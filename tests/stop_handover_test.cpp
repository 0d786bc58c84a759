// Planned stops (SIGTERM, SIGINT) of the real binary: hosts in their own
// namespaces, a real redis-server and a real receiver.
#include <hiredis/hiredis.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "host/messages.h"
#include "redis/redis_handles.h"
#include "redis/use_flag.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaitMs = 30000;         // bound of a wait for the service to react
constexpr int kAtOnceMs = 1500;        // "at once", on a loaded machine
constexpr int kPublishEveryMs = 50;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// One host: its own root pointing at the test's Redis and receiver, and its copy.
class Host {
 public:
  Host(const std::string& name, int redisPort, const std::string& url, const std::string& ini)
      : instance_(root_.path(), name) {
    root_.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\n"
                                 "MasterIp0=127.0.0.1\nMasterPort0=" + std::to_string(redisPort) +
                                     "\n[Format]\nOvertimeSec=2\n");
    root_.writeCfg("logsynset.ini",
                   "[synLogFlag]\nFlag=1\n[tovraurl]\nurl=" + url +
                       "\n[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
                       "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
                       "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n");
    if (!ini.empty()) root_.writeCfg("tarvex.ini", ini);
  }

  bool start() { return instance_.start({"-self"}); }
  void signal(int sig) { ::kill(instance_.process().pid(), sig); }
  bool running() { return instance_.process().running(); }
  std::string output() const { return instance_.output(); }
  bool logged(const char* line) const {
    return readFile(root_.logPath()).find(line) != std::string::npos;
  }
  bool waitLogged(const char* line) const {
    return waitUntil([&] { return logged(line); }, kWaitMs, 20);
  }
  // Waits for the end; the seconds it took, or -1. *status gets the exit status.
  double waitEnd(int timeoutMs, int* status) {
    const Clock::time_point from = Clock::now();
    return instance_.waitExit(timeoutMs, status) ? secondsSince(from) : -1;
  }

 private:
  TempRoot root_;
  TarvexInstance instance_;
};

// Publishes "<prefix><n>" every kPublishEveryMs on its own thread until stopped.
class Publisher {
 public:
  Publisher(int port, std::string prefix) : thread_([this, port, prefix] {
    RedisContextPtr c(redisConnect("127.0.0.1", port));
    while (redisUsable(c) && !stop_) {
      const std::string key = prefix + std::to_string(sent_.load());
      const std::string msg =
          "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
          "\"devicekey\":\"" + key + "\",\"appsysid\":\"3\",\"chardesc\":\"closed\","
          "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]";
      RedisReplyPtr(static_cast<redisReply*>(
          redisCommand(c.get(), "PUBLISH almTopic %b", msg.data(), msg.size())));
      ++sent_;
      std::this_thread::sleep_for(std::chrono::milliseconds(kPublishEveryMs));
    }
  }) {}
  ~Publisher() { finish(); }
  int sent() const { return sent_; }
  int finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return sent_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

class StopHandoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare -u -m";
    ASSERT_TRUE(redis_.start());
    ASSERT_TRUE(receiver_.start());
  }

  std::unique_ptr<Host> host(const std::string& name, const std::string& ini = "",
                             int redisPort = 0) {
    return std::make_unique<Host>(name, redisPort != 0 ? redisPort : redis_.port(),
                                  receiver_.url("/log"), ini);
  }
  std::string owner() const { return redis_.cli({"HGET", kUseFlagKey, "host"}); }

  // How often each record "<prefix><n>" arrived, for n below `sent`.
  std::map<int, int> arrivals(const std::string& prefix, int sent) const {
    std::map<int, int> count;
    for (int i = 0; i < sent; ++i) count[i] = 0;
    const std::string marker = ":250:" + prefix;
    for (const HttpTestServer::Request& r : receiver_.requests()) {
      for (std::size_t at = r.body.find(marker); at != std::string::npos;
           at = r.body.find(marker, at + 1)) {
        ++count[std::atoi(r.body.c_str() + at + marker.size())];
      }
    }
    return count;
  }
  bool allArrived(const std::string& prefix, int sent) const {
    for (const auto& kv : arrivals(prefix, sent)) {
      if (kv.second == 0) return false;
    }
    return true;
  }

  RedisServerProcess redis_;
  HttpTestServer receiver_;
};

// A standby waits, a publisher runs across the stop: in memory mode (false) and
// with durable delivery (true).
class OwnerStopTest : public StopHandoverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OwnerStopTest, StandbyTakesOverAndEveryRecordArrives) {
  const bool durable = GetParam();
  const std::string ini = durable ? "[Durable]\nDurable=1\n" : "";
  std::unique_ptr<Host> a = host("stopOwner", ini), b = host("stopStandby", ini);
  ASSERT_TRUE(a->start());
  ASSERT_TRUE(a->waitLogged(kOwnLine));
  ASSERT_TRUE(b->start());
  ASSERT_TRUE(b->waitLogged(kStartLine));
  const std::string subscribed = durable ? "almTopic\n2" : "almTopic\n1";
  ASSERT_TRUE(waitUntil([&] { return redis_.cli({"PUBSUB", "NUMSUB", "almTopic"}) == subscribed; },
                        kWaitMs, 50));

  Publisher publisher(redis_.port(), "S");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  a->signal(SIGTERM);
  const Clock::time_point stopped = Clock::now();
  ASSERT_TRUE(waitUntil([&] { return owner() == "stopStandby"; }, kWaitMs, 50));
  const double tookOver = secondsSince(stopped);
  int status = -1;
  const double ended = a->waitEnd(kWaitMs, &status);
  const double endedAfter = secondsSince(stopped);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const int sent = publisher.finish();

  std::printf("standby owned after %.1f s, owner ended after %.1f s\n", tookOver, endedAfter);
  EXPECT_LE(tookOver, 8.0);
  EXPECT_GE(ended, 0.0);
  EXPECT_LE(endedAfter, 10.0 + 16.0);
  EXPECT_EQ(0, status);
  EXPECT_TRUE(a->logged(kCloseLine));
  EXPECT_NE(std::string::npos, a->output().find("stopStandby took the work")) << a->output();
  EXPECT_TRUE(waitUntil([&] { return allArrived("S", sent); }, kWaitMs, 200));
  int repeats = 0;
  for (const auto& kv : arrivals("S", sent)) {
    EXPECT_GT(kv.second, 0) << "record " << kv.first << " of " << sent;
    repeats += kv.second > 1 ? kv.second - 1 : 0;
  }
  std::printf("%d records, %d repeats\n", sent, repeats);
  if (durable) {
    EXPECT_LE(repeats, 100);  // the batch in flight at most
  }
  EXPECT_TRUE(b->running());
}

INSTANTIATE_TEST_SUITE_P(BothModes, OwnerStopTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "Durable" : "Memory";
                         });

TEST_F(StopHandoverTest, StoppedStandbyEndsAtOnceAndLeavesTheOwnerAlone) {
  std::unique_ptr<Host> a = host("keepOwner"), b = host("quitStandby");
  ASSERT_TRUE(a->start());
  ASSERT_TRUE(a->waitLogged(kOwnLine));
  ASSERT_TRUE(b->start());
  ASSERT_TRUE(b->waitLogged(kStartLine));
  const std::string beat = redis_.cli({"HGET", kUseFlagKey, "time"});
  b->signal(SIGINT);
  int status = -1;
  const double ended = b->waitEnd(kWaitMs, &status);
  EXPECT_GE(ended, 0.0);
  EXPECT_LE(ended, kAtOnceMs / 1000.0);
  EXPECT_EQ(0, status);
  EXPECT_FALSE(b->logged(kOwnLine));
  EXPECT_TRUE(waitUntil([&] { return redis_.cli({"HGET", kUseFlagKey, "time"}) != beat; },
                        kWaitMs, 100));
  EXPECT_EQ("keepOwner", owner());
  EXPECT_TRUE(a->running());
}

TEST_F(StopHandoverTest, OwnerAloneDeliversWhileItWaitsThenEndsAndTheHashIsGone) {
  std::unique_ptr<Host> a = host("aloneOwner", "[Service]\nStopHandoverSeconds=3\n");
  // Slow replies: texts wait in the queue when it stops receiving.
  receiver_.setMode(HttpTestServer::Mode::kSlowAnswer);
  receiver_.setDelayMs(700);
  ASSERT_TRUE(a->start());
  ASSERT_TRUE(a->waitLogged(kOwnLine));
  ASSERT_TRUE(waitUntil(
      [&] { return redis_.cli({"PUBSUB", "NUMSUB", "almTopic"}) == "almTopic\n1"; }, kWaitMs, 50));
  Publisher publisher(redis_.port(), "W");
  a->signal(SIGTERM);
  const Clock::time_point stopped = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(2700));  // within the 3 s wait
  const int sent = publisher.sent();
  int status = -1;
  EXPECT_GE(a->waitEnd(kWaitMs, &status), 0.0);
  const double ended = secondsSince(stopped);
  publisher.finish();
  std::printf("ended after %.1f s, %d records published during the wait\n", ended, sent);
  EXPECT_GE(ended, 3.0);
  EXPECT_LE(ended, 3.0 + 16.0);
  EXPECT_EQ(0, status);
  EXPECT_TRUE(a->logged(kCloseLine));
  EXPECT_EQ("0", redis_.cli({"EXISTS", kUseFlagKey}));
  EXPECT_NE(std::string::npos, a->output().find("no successor within 3 s")) << a->output();
  EXPECT_TRUE(allArrived("W", sent));
}

TEST_F(StopHandoverTest, HashNamingAnotherHostIsNotDeleted) {
  std::unique_ptr<Host> a = host("formerOwner");
  ASSERT_TRUE(a->start());
  ASSERT_TRUE(a->waitLogged(kOwnLine));
  redis_.cli({"HSET", kUseFlagKey, "host", "intruder"});
  a->signal(SIGTERM);
  int status = -1;
  EXPECT_GE(a->waitEnd(kWaitMs, &status), 0.0);
  EXPECT_EQ(0, status);
  EXPECT_EQ("intruder", owner());
  EXPECT_NE(std::string::npos, a->output().find("intruder took the work")) << a->output();
}

TEST_F(StopHandoverTest, NoHandoverTimeAndASecondSignalEachEndAtOnce) {
  RedisServerProcess otherRedis;
  ASSERT_TRUE(otherRedis.start());
  std::unique_ptr<Host> zero = host("zeroOwner", "[Service]\nStopHandoverSeconds=0\n");
  std::unique_ptr<Host> twice = host("twiceOwner", "", otherRedis.port());
  for (Host* h : {zero.get(), twice.get()}) {
    ASSERT_TRUE(h->start());
    ASSERT_TRUE(h->waitLogged(kOwnLine));
  }
  int status = -1;
  zero->signal(SIGTERM);
  const double zeroEnded = zero->waitEnd(kWaitMs, &status);
  EXPECT_GE(zeroEnded, 0.0);
  EXPECT_LE(zeroEnded, kAtOnceMs / 1000.0);
  EXPECT_EQ(0, status);
  EXPECT_FALSE(zero->logged(kCloseLine));  // as a kill would: nothing released either
  EXPECT_EQ("zeroOwner", owner());

  twice->signal(SIGTERM);
  ASSERT_TRUE(waitUntil([&] { return twice->output().find("handing the work over") !=
                                     std::string::npos; }, kWaitMs, 20));
  twice->signal(SIGINT);
  const double twiceEnded = twice->waitEnd(kWaitMs, &status);
  EXPECT_GE(twiceEnded, 0.0);
  EXPECT_LE(twiceEnded, kAtOnceMs / 1000.0);
  EXPECT_EQ(0, status);
}

}  // namespace
