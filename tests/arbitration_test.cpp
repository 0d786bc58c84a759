// Several hosts, each a real tarvex process in its own UTS and mount namespace,
// arbitrating through a real redis-server.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "host/messages.h"
#include "redis/use_flag.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string rdssetFor(int port) {
  return "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1\n"
         "MasterPort0=" + std::to_string(port) + "\n[Format]\nOvertimeSec=2\nOvertimeUsec=0\n";
}

// One host: its own installation root pointing at `redisPort`, and its instance.
class Host {
 public:
  // `syncSettings` follows the run-log switch in logsynset.ini.
  Host(const std::string& name, int redisPort, const std::string& syncSettings = "")
      : name_(name), instance_(root_.path(), name) {
    root_.writeCfg("rdsset.ini", rdssetFor(redisPort));
    root_.writeCfg("logsynset.ini", "[synLogFlag]\nFlag=1\n" + syncSettings);
  }

  bool start() { return instance_.start({"-self"}); }
  void writeRdsset(const std::string& text) { root_.writeCfg("rdsset.ini", text); }
  TarvexInstance& instance() { return instance_; }
  const std::string& root() const { return root_.path(); }

  // The run log, or the captured output while lines still go to stderr.
  bool logged(const char* line) const {
    return readFile(root_.logPath()).find(line) != std::string::npos ||
           instance_.output().find(line) != std::string::npos;
  }
  bool waitLogged(const char* line, int timeoutMs) const {
    return waitUntil([&] { return logged(line); }, timeoutMs, 50);
  }

 private:
  std::string name_;
  TempRoot root_;
  TarvexInstance instance_;
};

class ArbitrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare -u -m";
  }

  static std::string owner(const RedisServerProcess& r) {
    return r.cli({"HGET", kUseFlagKey, "host"});
  }
  static std::string heartbeat(const RedisServerProcess& r) {
    return r.cli({"HGET", kUseFlagKey, "time"});
  }
};

TEST_F(ArbitrationTest, StartupTakesTheWorkAtOnceWithoutALiveForeignOwner) {
  RedisServerProcess emptyRedis, ownRedis, noTimeRedis;
  ASSERT_TRUE(emptyRedis.start());
  ASSERT_TRUE(ownRedis.start());
  ASSERT_TRUE(noTimeRedis.start());
  ownRedis.cli({"HSET", kUseFlagKey, "host", "hostB", "time", "100"});
  noTimeRedis.cli({"HSET", kUseFlagKey, "host", "hostOther"});

  Host a("hostA", emptyRedis.port());
  Host b("hostB", ownRedis.port());
  Host c("hostC", noTimeRedis.port());
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(c.start());

  for (Host* h : {&a, &b, &c}) EXPECT_TRUE(h->waitLogged(kOwnLine, 4000)) << h->root();
  std::printf("all three owned after %.2f s\n", secondsSince(start));
  EXPECT_EQ("hostA", owner(emptyRedis));
  EXPECT_EQ("hostB", owner(ownRedis));
  EXPECT_NE("100", heartbeat(ownRedis));
  EXPECT_EQ("hostC", owner(noTimeRedis));
  EXPECT_EQ("2", noTimeRedis.cli({"HLEN", kUseFlagKey}));

  // The owner's heartbeat moves every 3 s, as the times it writes show (polling
  // from outside on a loaded machine could not tell 3 s from 3.6 s).
  std::string t0 = heartbeat(emptyRedis);
  std::string t1, t2;
  ASSERT_TRUE(waitUntil([&] { return (t1 = heartbeat(emptyRedis)) != t0; }, 10000, 100));
  ASSERT_TRUE(waitUntil([&] { return (t2 = heartbeat(emptyRedis)) != t1; }, 10000, 100));
  const int step = std::stoi(t2) - std::stoi(t1);
  EXPECT_TRUE(step >= 2 && step <= 4) << t1 << " -> " << t2;
  EXPECT_TRUE(a.instance().process().running());
}

TEST_F(ArbitrationTest, StandbyTakesOverOnlyAfterTheHeartbeatStops) {
  RedisServerProcess staleRedis, oneRedis, liveRedis;
  ASSERT_TRUE(staleRedis.start());
  ASSERT_TRUE(oneRedis.start());
  ASSERT_TRUE(liveRedis.start());
  staleRedis.cli({"HSET", kUseFlagKey, "host", "deadHost", "time", "777"});
  // A first heartbeat of 1 already counts as one repeat.
  oneRedis.cli({"HSET", kUseFlagKey, "host", "deadHost", "time", "1"});
  int liveTime = 5000;
  liveRedis.cli({"HSET", kUseFlagKey, "host", "liveHost", "time", std::to_string(liveTime)});

  Host stale("hostS", staleRedis.port());
  Host one("hostO", oneRedis.port());
  Host live("hostL", liveRedis.port());
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(stale.start());
  ASSERT_TRUE(one.start());
  ASSERT_TRUE(live.start());

  double staleTakeover = -1, oneTakeover = -1;
  Clock::time_point lastBeat = start;
  // After the takeover the live owner keeps beating a little longer, past the
  // live standby's own fifth read.
  auto watching = [&] {
    const double t = secondsSince(start);
    return t < 35 && (staleTakeover < 0 || t < staleTakeover + 3);
  };
  while (watching()) {
    // The live foreign owner beats every second.
    if (Clock::now() - lastBeat >= std::chrono::seconds(1)) {
      lastBeat = Clock::now();
      liveRedis.cli({"HSET", kUseFlagKey, "time", std::to_string(++liveTime)});
    }
    if (oneTakeover < 0 && owner(oneRedis) == "hostO") oneTakeover = secondsSince(start);
    if (staleTakeover < 0 && owner(staleRedis) == "hostS") staleTakeover = secondsSince(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::printf("takeover after %.2f s (stale heartbeat), %.2f s (heartbeat 1)\n", staleTakeover,
              oneTakeover);
  EXPECT_GE(staleTakeover, 15.0);
  EXPECT_LE(staleTakeover, 30.0);
  // Reads come 5 s apart: the fifth read takes a dead heartbeat, the fourth a
  // dead heartbeat of 1.
  EXPECT_GE(oneTakeover, 12.0);
  EXPECT_LE(oneTakeover, 19.0);
  EXPECT_LT(oneTakeover, staleTakeover - 2.5);
  EXPECT_TRUE(stale.waitLogged(kOwnLine, 2000));

  EXPECT_EQ("liveHost", owner(liveRedis));
  EXPECT_FALSE(live.logged(kOwnLine));
  EXPECT_TRUE(live.instance().process().running());
}

TEST_F(ArbitrationTest, OwnerEndsWhenTheHashIsLost) {
  RedisServerProcess takenRedis, deletedRedis, killedRedis;
  ASSERT_TRUE(takenRedis.start());
  ASSERT_TRUE(deletedRedis.start());
  ASSERT_TRUE(killedRedis.start());
  Host taken("hostT", takenRedis.port());
  Host deleted("hostD", deletedRedis.port());
  Host killed("hostK", killedRedis.port());
  for (Host* h : {&taken, &deleted, &killed}) {
    ASSERT_TRUE(h->start());
    ASSERT_TRUE(h->waitLogged(kOwnLine, 4000)) << h->root();
  }

  takenRedis.cli({"HSET", kUseFlagKey, "host", "intruder"});
  const std::string intruderTime = heartbeat(takenRedis);
  deletedRedis.cli({"DEL", kUseFlagKey});
  killedRedis.stop();

  for (Host* h : {&taken, &deleted, &killed}) {
    int status = -1;
    EXPECT_TRUE(h->instance().waitExit(6000, &status)) << h->root();
    EXPECT_EQ(0, status) << h->root();
    EXPECT_TRUE(h->logged(kCloseLine)) << h->root();
  }
  // Giving up writes nothing.
  EXPECT_EQ("intruder", owner(takenRedis));
  EXPECT_EQ(intruderTime, heartbeat(takenRedis));
  EXPECT_EQ("0", deletedRedis.cli({"EXISTS", kUseFlagKey}));
}

TEST_F(ArbitrationTest, RedisUnreachableAtStartEndsWithTheErrorLine) {
  Host h("hostU", freeLoopbackPort());
  ASSERT_TRUE(h.start());
  int status = -1;
  ASSERT_TRUE(h.instance().waitExit(10000, &status));
  EXPECT_EQ(0, status);
  EXPECT_TRUE(h.logged(kStartLine));
  EXPECT_TRUE(h.logged(kRedisErrorLine));
  EXPECT_FALSE(h.logged(kOwnLine));
}

TEST_F(ArbitrationTest, SupervisedOwnerEndsOnceItsParentIsGone) {
  RedisServerProcess redis;
  ASSERT_TRUE(redis.start());
  Host h("hostP", redis.port());
  // The orphaned service is handed to this process, so its exit status can be read.
  ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
  const std::string pidFile = h.root() + "/service.pid";
  // A parent that starts the service without "-self" and leaves after 2 s.
  const std::string script =
      "mount -t tmpfs tmpfs /run/lock && hostname \"$0\" && "
      "{ \"$1\" & echo $! > \"$2\"; sleep 2; }";
  ChildProcess parent;
  ASSERT_TRUE(parent.start({"unshare", "-u", "-m", "--propagation", "private", "sh", "-c", script,
                            "hostP", TARVEX_BINARY, pidFile},
                           {{"ZQROOT", h.root()}}, h.root() + "/stdout-hostP.txt"));
  pid_t pid = -1;
  ASSERT_TRUE(waitUntil([&] { return std::sscanf(readFile(pidFile).c_str(), "%d", &pid) == 1; },
                        3000));
  EXPECT_TRUE(h.waitLogged(kOwnLine, 4000));
  int parentStatus = -1;
  ASSERT_TRUE(parent.waitExit(5000, &parentStatus));
  const Clock::time_point orphaned = Clock::now();

  int status = -1;
  const bool ended = waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 8000, 50);
  if (!ended) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  ASSERT_TRUE(ended);
  std::printf("ended %.2f s after its parent\n", secondsSince(orphaned));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

// One operation-log message holding one control record keyed by `deviceKey`.
std::string controlMessage(const std::string& deviceKey) {
  return "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
         "\"devicekey\":\"" + deviceKey + "\",\"appsysid\":\"3\",\"chardesc\":\"closed\","
         "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]";
}

// How often each record key ("guid") arrived in the documents posted so far.
std::map<std::string, int> deliveredKeys(const HttpTestServer& server) {
  std::map<std::string, int> keys;
  const std::string marker = "\"guid\":\"";
  for (const HttpTestServer::Request& r : server.requests()) {
    for (std::size_t at = r.body.find(marker); at != std::string::npos;
         at = r.body.find(marker, at + 1)) {
      const std::size_t start = at + marker.size();
      ++keys[r.body.substr(start, r.body.find('"', start) - start)];
    }
  }
  return keys;
}

TEST_F(ArbitrationTest, OnlyTheOwnerDeliversAndTheStandbyTakesOverWhenItDies) {
  RedisServerProcess redis;
  ASSERT_TRUE(redis.start());
  HttpTestServer server;
  ASSERT_TRUE(server.start());
  const std::string sync =
      "[tovraurl]\nurl=" + server.url("/log") +
      "\n[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
      "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
      "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n";
  Host first("hostX", redis.port(), sync);
  Host second("hostY", redis.port(), sync);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(first.waitLogged(kOwnLine, 4000));
  ASSERT_TRUE(second.start());
  auto subscribers = [&] { return redis.cli({"PUBSUB", "NUMSUB", "almTopic"}); };
  ASSERT_TRUE(waitUntil([&] { return subscribers() == "almTopic\n1"; }, 5000, 100));

  const int kBefore = 5;
  for (int i = 0; i < kBefore; ++i) {
    redis.cli({"PUBLISH", "almTopic", controlMessage("before" + std::to_string(i))});
  }
  auto count = [&](const std::string& key) {
    const std::map<std::string, int> keys = deliveredKeys(server);
    auto it = keys.find(key);
    return it == keys.end() ? 0 : it->second;
  };
  const std::string lastBefore = "1709629622:250:before" + std::to_string(kBefore - 1) + ":Control";
  ASSERT_TRUE(waitUntil([&] { return count(lastBefore) > 0; }, 10000, 100));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(static_cast<std::size_t>(kBefore), deliveredKeys(server).size());
  for (const auto& kv : deliveredKeys(server)) EXPECT_EQ(1, kv.second) << kv.first;
  EXPECT_FALSE(second.logged(kOwnLine));

  // The owner dies; one message a second is published until the standby delivers.
  first.instance().kill();
  const Clock::time_point killed = Clock::now();
  double firstDelivery = -1;
  for (int i = 0; secondsSince(killed) < 40; ++i) {
    redis.cli({"PUBLISH", "almTopic", controlMessage("after" + std::to_string(i))});
    if (deliveredKeys(server).size() > static_cast<std::size_t>(kBefore)) {
      firstDelivery = secondsSince(killed);
      break;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  std::printf("standby delivered %.2f s after the owner was killed\n", firstDelivery);
  EXPECT_GT(firstDelivery, 0);
  EXPECT_LE(firstDelivery, 30.0);
  EXPECT_EQ("hostY", owner(redis));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (const auto& kv : deliveredKeys(server)) EXPECT_EQ(1, kv.second) << kv.first;
}

}  // namespace

namespace {

TEST_F(ArbitrationTest, NewOwnerSurvivesReplicaThatLagsBehindItsTakeOver) {
  // Reads go to the slave, writes to the master. The test plays a replica that
  // copies the hash from the master half a second late.
  RedisServerProcess master, slave;
  ASSERT_TRUE(master.start());
  ASSERT_TRUE(slave.start());
  Host host("hostL", master.port());
  host.writeRdsset("[ConnectionMode]\nMode=2\n[ConnectionMaster]\nMasterNum=1\n"
                   "MasterIp0=127.0.0.1\nMasterPort0=" + std::to_string(master.port()) +
                   "\n[ConnectionSlave]\nSlaveNum=1\nSlaveIp0=127.0.0.1\nSlavePort0=" +
                   std::to_string(slave.port()) + "\n[Format]\nOvertimeSec=2\n");
  std::atomic<bool> copying{true};
  std::thread replica([&] {
    while (copying) {
      const std::string name = master.cli({"HGET", kUseFlagKey, "host"});
      const std::string time = master.cli({"HGET", kUseFlagKey, "time"});
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      if (!name.empty() && !time.empty()) {
        slave.cli({"HSET", kUseFlagKey, "host", name, "time", time});
      }
    }
  });
  ASSERT_TRUE(host.start());
  const bool owned = host.waitLogged(kOwnLine, 5000);
  // Past the first heartbeat reads: the owner must still be there.
  std::this_thread::sleep_for(std::chrono::milliseconds(7000));
  const bool running = host.instance().process().running();
  copying = false;
  replica.join();
  EXPECT_TRUE(owned);
  EXPECT_TRUE(running);
  EXPECT_FALSE(host.logged(kCloseLine));
  host.instance().kill();
}

}  // namespace

namespace {

TEST_F(ArbitrationTest, HeartbeatMovesToTheOtherMasterWhenItsMasterIsDemoted) {
  // Two masters listed; the second starts as the first one's replica, so a manual
  // switch-over keeps the hash.
  RedisServerProcess first, second;
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(second.start({"--replicaof", "127.0.0.1", std::to_string(first.port())}));
  Host host("hostR", first.port());
  host.writeRdsset("[ConnectionMode]\nMode=2\n[ConnectionMaster]\nMasterNum=2\n"
                   "MasterIp0=127.0.0.1\nMasterPort0=" + std::to_string(first.port()) +
                   "\nMasterIp1=127.0.0.1\nMasterPort1=" + std::to_string(second.port()) +
                   "\n[Format]\nOvertimeSec=2\n");
  ASSERT_TRUE(host.start());
  ASSERT_TRUE(host.waitLogged(kOwnLine, 5000));
  ASSERT_TRUE(waitUntil([&] { return owner(second) == "hostR"; }, 10000, 100));

  second.cli({"REPLICAOF", "NO", "ONE"});
  first.cli({"REPLICAOF", "127.0.0.1", std::to_string(second.port())});
  const std::string atSwitch = heartbeat(second);
  // Two heartbeats written straight to the new master, by the same owner.
  std::string later;
  ASSERT_TRUE(waitUntil([&] {
    later = heartbeat(second);
    return !later.empty() && std::stoll(later) >= std::stoll(atSwitch) + 4;
  }, 20000, 200)) << atSwitch << " -> " << later;
  EXPECT_EQ("hostR", owner(second));
  EXPECT_TRUE(host.instance().process().running());
  EXPECT_FALSE(host.logged(kCloseLine));
  host.instance().kill();
}

TEST_F(ArbitrationTest, TwoStandbysTakingTheSameStaleHeartbeatLeaveOneOwner) {
  // Reads go to a replica that the test feeds from the master a second late, so
  // both standbys still read the stale heartbeat after the first has taken over.
  RedisServerProcess master, slave;
  ASSERT_TRUE(master.start());
  ASSERT_TRUE(slave.start());
  for (RedisServerProcess* r : {&master, &slave}) {
    r->cli({"HSET", kUseFlagKey, "host", "ghost", "time", "500"});
  }
  std::atomic<bool> copying{true};
  std::thread replica([&] {
    while (copying) {
      const std::string name = master.cli({"HGET", kUseFlagKey, "host"});
      const std::string time = master.cli({"HGET", kUseFlagKey, "time"});
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      if (!name.empty() && !time.empty()) {
        slave.cli({"HSET", kUseFlagKey, "host", name, "time", time});
      }
    }
  });
  HttpTestServer server;
  ASSERT_TRUE(server.start());
  const std::string sync =
      "[tovraurl]\nurl=" + server.url("/log") +
      "\n[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
      "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
      "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n";
  const std::string rdsset =
      "[ConnectionMode]\nMode=2\n[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1\n"
      "MasterPort0=" + std::to_string(master.port()) +
      "\n[ConnectionSlave]\nSlaveNum=1\nSlaveIp0=127.0.0.1\nSlavePort0=" +
      std::to_string(slave.port()) + "\n[Format]\nOvertimeSec=2\n";
  Host a("hostP", master.port(), sync);
  Host b("hostQ", master.port(), sync);
  a.writeRdsset(rdsset);
  b.writeRdsset(rdsset);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  const bool bothOwned =
      waitUntil([&] { return a.logged(kOwnLine) && b.logged(kOwnLine); }, 60000, 50);
  const Clock::time_point owned = Clock::now();

  // While both are subscribed (on the replica), every message reaches the one that
  // stays.
  int published = 0;
  if (bothOwned &&
      waitUntil([&] { return slave.cli({"PUBSUB", "NUMSUB", "almTopic"}) == "almTopic\n2"; },
                3000, 20)) {
    for (; published < 20; ++published) {
      slave.cli({"PUBLISH", "almTopic", controlMessage("race" + std::to_string(published))});
    }
  }
  const bool oneLeft = waitUntil([&] {
    return a.instance().process().running() != b.instance().process().running();
  }, 6000, 50);
  const double overlap = secondsSince(owned);
  copying = false;
  replica.join();
  ASSERT_TRUE(bothOwned);
  ASSERT_TRUE(oneLeft);
  std::printf("one owner left %.2f s after both took the work\n", overlap);
  EXPECT_EQ(20, published);
  Host& kept = a.instance().process().running() ? a : b;
  Host& lost = &kept == &a ? b : a;
  EXPECT_EQ(&kept == &a ? "hostP" : "hostQ", owner(master));
  EXPECT_TRUE(waitUntil([&] {
    return deliveredKeys(server).size() == static_cast<std::size_t>(published);
  }, 10000, 100)) << deliveredKeys(server).size() << " of " << published;
  int status = -1;
  EXPECT_TRUE(lost.instance().waitExit(1000, &status));
  EXPECT_EQ(0, status);
  EXPECT_TRUE(lost.logged(kCloseLine));
  EXPECT_TRUE(kept.instance().process().running());
  kept.instance().kill();
}

}  // namespace
