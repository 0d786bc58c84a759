// The real service binary under faults: its Redis killed, a Sentinel failover, a
// receiver that refuses, fails, stalls or talks nonsense, oversized and bursty
// input, and its settings file rewritten under it. Each case checks that the
// service stays up where it should, ends with status 0 where it is meant to end,
// and never hangs.
#include <hiredis/hiredis.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "delivery/http_post.h"
#include "host/messages.h"
#include "redis/redis_handles.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"
#include "tests/support/worked_example.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSubscribeWaitMs = 15000;  // start-up or resubscription until almTopic is heard
constexpr int kDeliveryWaitMs = 20000;   // publish until the receiver has the record
constexpr int kEndWaitMs = 15000;        // loss of the work until the process has ended
constexpr int kFailoverWaitMs = 30000;   // forced failover until the new master is known
constexpr int kPollMs = 50;              // step of the bounded waits

// One Control record that converts with the worked-example dictionaries; `key`
// makes its guid unique.
std::string controlRecord(const std::string& key, const std::string& description) {
  return "{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
         "\"devicekey\":\"" + key + "\",\"appsysid\":\"3\",\"chardesc\":\"" + description +
         "\",\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}";
}

std::string controlMessage(const std::string& key,
                           const std::string& description = "Breaker 12 closed") {
  return "[" + controlRecord(key, description) + "]";
}

// Times the record with this key reached the receiver.
std::size_t deliveries(const HttpTestServer& receiver, const std::string& key) {
  const std::string guid = "\"guid\":\"1709629622:250:" + key + ":Control\"";
  std::size_t n = 0;
  for (const HttpTestServer::Request& r : receiver.requests()) {
    for (std::size_t at = r.body.find(guid); at != std::string::npos;
         at = r.body.find(guid, at + 1)) {
      ++n;
    }
  }
  return n;
}

std::size_t recordsDelivered(const HttpTestServer& receiver) {
  std::size_t n = 0;
  for (const HttpTestServer::Request& r : receiver.requests()) {
    for (std::size_t at = r.body.find("\"guid\":"); at != std::string::npos;
         at = r.body.find("\"guid\":", at + 1)) {
      ++n;
    }
  }
  return n;
}

// A field of /proc/<pid>/status in kB ("VmRSS", "VmHWM"), or -1.
long procStatusKb(pid_t pid, const char* field) {
  const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
  const std::string key = std::string("\n") + field + ":";
  const std::size_t at = status.find(key);
  if (at == std::string::npos) return -1;
  return std::strtol(status.c_str() + at + key.size(), nullptr, 10);
}

std::size_t openDescriptors(pid_t pid) {
  std::error_code ec;
  std::size_t n = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

RedisContextPtr connectRedis(int port) {
  struct timeval tv = {5, 0};
  RedisContextPtr c(redisConnectWithTimeout("127.0.0.1", port, tv));
  if (redisUsable(c)) redisSetTimeout(c.get(), tv);
  return c;
}

// PUBLISH on almTopic with the payload's exact bytes: the number of subscribers
// that got it, or -1.
long long publish(int port, const std::string& payload) {
  RedisContextPtr c = connectRedis(port);
  if (!redisUsable(c)) return -1;
  RedisReplyPtr r(static_cast<redisReply*>(
      redisCommand(c.get(), "PUBLISH almTopic %b", payload.data(), payload.size())));
  return r != nullptr && r->type == REDIS_REPLY_INTEGER ? r->integer : -1;
}

// Subscribers of almTopic on the server at `port`.
long long subscribers(int port) {
  RedisContextPtr c = connectRedis(port);
  if (!redisUsable(c)) return -1;
  RedisReplyPtr r(static_cast<redisReply*>(redisCommand(c.get(), "PUBSUB NUMSUB almTopic")));
  if (r == nullptr || r->type != REDIS_REPLY_ARRAY || r->elements != 2) return -1;
  return r->element[1]->type == REDIS_REPLY_INTEGER ? r->element[1]->integer : -1;
}

class FaultInjectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare for a private host";
    ASSERT_TRUE(receiver_.start());
  }

  // No command time-out: the subscription listens without the gaps of resubscribing.
  void writeMasterSettings(int port) {
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n[Format]\nOvertimeSec=0\nOvertimeUsec=0\n"
                   "[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1\nMasterPort0=" +
                       std::to_string(port) + "\n");
  }

  void writeSyncSettings(const std::string& url, int logFlag) {
    root_.writeCfg("logsynset.ini", "[tovraurl]\nurl=" + url + "\n[synLogFlag]\nFlag=" +
                                        std::to_string(logFlag) + "\n" +
                                        kWorkedExampleDictionaries);
  }

  // Redis in master-only mode and the receiver in this process, then the service.
  void startWithMaster(int logFlag = 1) {
    ASSERT_TRUE(redis_.start());
    writeMasterSettings(redis_.port());
    writeSyncSettings(receiver_.url("/api/operateLog"), logFlag);
    ASSERT_TRUE(service_.start({"-self"}, {{"TZ", "UTC"}}));
  }

  bool waitSubscribed(int port) {
    return waitUntil([&] { return subscribers(port) == 1; }, kSubscribeWaitMs, kPollMs);
  }

  // Publishes until the service's subscription has heard the message once.
  bool heard(int port, const std::string& payload) {
    return waitUntil([&] { return publish(port, payload) == 1; }, kSubscribeWaitMs, 100);
  }

  // Publishes one Control message on `port` and waits until the receiver has it.
  bool deliver(int port, const std::string& key) {
    if (!heard(port, controlMessage(key))) return false;
    return waitUntil([&] { return deliveries(receiver_, key) >= 1; }, kDeliveryWaitMs, kPollMs);
  }

  // Publishes messages keyed prefix1, prefix2, ... on `port` until one reaches the
  // receiver, for subscriptions on another server of the replication. Returns how
  // many were published, 0 when none came through in time.
  int deliverThroughReplication(int port, const std::string& prefix, int timeoutMs) {
    int sent = 0;
    const bool through = waitUntil([&] {
      for (int i = 1; i <= sent; ++i) {
        if (deliveries(receiver_, prefix + std::to_string(i)) > 0) return true;
      }
      publish(port, controlMessage(prefix + std::to_string(++sent)));
      return false;
    }, timeoutMs, 300);
    return through ? sent : 0;
  }

  bool logged(const std::string& text) const {
    return readFile(root_.logPath()).find(text) != std::string::npos;
  }
  bool waitLogged(const std::string& text, int timeoutMs = 5000) const {
    return waitUntil([&] { return logged(text); }, timeoutMs, kPollMs);
  }

  pid_t pid() { return service_.process().pid(); }

  std::string diagnostics() {
    std::string log = readFile(root_.logPath());
    if (log.size() > 4000) log = "..." + log.substr(log.size() - 4000);
    return "service output:\n" + service_.output() + "\nrun log (end):\n" + log;
  }

  RedisServerProcess redis_;
  HttpTestServer receiver_;
  TempRoot root_;
  static constexpr const char* kHostName = "tarvex-faults";  // the service's host name
  TarvexInstance service_{root_.path(), kHostName};
};

TEST_F(FaultInjectionTest, RedisKilledAndRestartedWithItsDataKeepsOwnerAndDelivery) {
  startWithMaster();
  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();
  for (const char* key : {"R1", "R2", "R3"}) ASSERT_TRUE(deliver(redis_.port(), key)) << key;
  const std::size_t fdsBefore = openDescriptors(pid());

  // Right after a heartbeat the owner does not read the hash for 3 s: the crash and
  // restart fall between two reads, and the saved hash still names this host.
  const std::string beat = redis_.cli({"HGET", "useflag:tarvex", "time"});
  ASSERT_TRUE(waitUntil([&] { return redis_.cli({"HGET", "useflag:tarvex", "time"}) != beat; },
                        5000, 20));
  ASSERT_EQ(redis_.cli({"SAVE"}), "OK");
  ASSERT_TRUE(redis_.restart());

  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();
  for (const char* key : {"R4", "R5", "R6"}) {
    ASSERT_TRUE(deliver(redis_.port(), key)) << key << "\n" << diagnostics();
  }
  for (const char* key : {"R1", "R2", "R3", "R4", "R5", "R6"}) {
    EXPECT_EQ(deliveries(receiver_, key), 1u) << key;
  }
  EXPECT_TRUE(service_.process().running()) << diagnostics();
  // The broken connections were replaced, not piled up.
  EXPECT_LE(openDescriptors(pid()), fdsBefore);
}

TEST_F(FaultInjectionTest, RedisRestartedEmptyEndsTheOwnerWithStatusZero) {
  startWithMaster();
  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();
  ASSERT_TRUE(deliver(redis_.port(), "E1"));

  // The hash is gone with the crash: the owner can no longer find its name.
  ASSERT_TRUE(redis_.restart());
  int status = -1;
  ASSERT_TRUE(service_.waitExit(kEndWaitMs, &status)) << diagnostics();
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(waitLogged(kCloseLine)) << diagnostics();
}

TEST_F(FaultInjectionTest, SentinelFailoverMidStreamKeepsDelivering) {
  RedisServerProcess& master = redis_;
  RedisServerProcess replica;
  RedisServerProcess sentinel;
  ASSERT_TRUE(master.start({"--repl-diskless-sync-delay", "0"}));
  ASSERT_TRUE(replica.start({"--replicaof", "127.0.0.1", std::to_string(master.port())}));
  ASSERT_TRUE(waitUntil([&] {
    return master.cli({"INFO", "replication"}).find("state=online") != std::string::npos;
  }, kSubscribeWaitMs, kPollMs));
  ASSERT_TRUE(sentinel.startSentinel("sentinel monitor mymaster 127.0.0.1 " +
                                     std::to_string(master.port()) +
                                     " 1\nsentinel down-after-milliseconds mymaster 1000\n"
                                     "sentinel failover-timeout mymaster 5000\n"));
  // The Sentinel lists the replica once it has looked at the master.
  ASSERT_TRUE(waitUntil([&] {
    return sentinel.cli({"SENTINEL", "replicas", "mymaster"}).find("\nslave\n") !=
           std::string::npos;
  }, kSubscribeWaitMs, kPollMs));
  root_.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=3\n[Format]\nOvertimeSec=1\nOvertimeUsec=0\n"
                               "[Sentinel]\nSentinelNum=1\nSentinelIp0=127.0.0.1\nSentinelPort0=" +
                                   std::to_string(sentinel.port()) + "\n");
  writeSyncSettings(receiver_.url("/api/operateLog"), 1);
  // The hash already names this host, as after a restart. A fresh takeover would be
  // written to the master and read back at once from the replica, which may not have
  // it yet; that start-up race is not what this case is about.
  master.cli({"HSET", "useflag:tarvex", "host", kHostName, "time", "1"});
  ASSERT_TRUE(waitUntil([&] { return replica.cli({"HGET", "useflag:tarvex", "host"}) == kHostName; },
                        kSubscribeWaitMs, kPollMs));
  ASSERT_TRUE(service_.start({"-self"}, {{"TZ", "UTC"}}));

  // Reads, the subscription included, go to the replica; publishing on the master
  // reaches its subscribers through replication.
  ASSERT_TRUE(waitSubscribed(replica.port())) << diagnostics();
  ASSERT_GT(deliverThroughReplication(master.port(), "P", kDeliveryWaitMs), 0) << diagnostics();

  ASSERT_TRUE(waitUntil([&] { return sentinel.cli({"SENTINEL", "FAILOVER", "mymaster"}) == "OK"; },
                        kSubscribeWaitMs, kPollMs));
  const std::string newMaster = "127.0.0.1\n" + std::to_string(replica.port());
  ASSERT_TRUE(waitUntil([&] {
    return sentinel.cli({"SENTINEL", "get-master-addr-by-name", "mymaster"}) == newMaster;
  }, kFailoverWaitMs, kPollMs));

  // Messages published before the service listens again are not heard (pub/sub keeps
  // nothing): the service may first resubscribe on the old master, which hears the
  // new one only once the Sentinel has turned it into a replica, some seconds later.
  const int sent = deliverThroughReplication(replica.port(), "A", kFailoverWaitMs);
  std::printf("failover: %d messages published until one was delivered\n", sent);
  ASSERT_GT(sent, 0) << diagnostics();
  for (int i = 1; i <= sent; ++i) EXPECT_LE(deliveries(receiver_, "A" + std::to_string(i)), 1u);
  EXPECT_TRUE(service_.process().running()) << diagnostics();
}

TEST_F(FaultInjectionTest, ReceiverRefusingIsLoggedAndTheServiceGoesOn) {
  ASSERT_TRUE(redis_.start());
  writeMasterSettings(redis_.port());
  writeSyncSettings("http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/log", 1);
  ASSERT_TRUE(service_.start({"-self"}, {{"TZ", "UTC"}}));
  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();

  const std::string refused = std::string("data:") + kConnectFailedText + " --";
  ASSERT_TRUE(heard(redis_.port(), controlMessage("F1")));
  ASSERT_TRUE(waitLogged(refused, kDeliveryWaitMs)) << diagnostics();
  // The batch was dropped, not retried: the next one is tried on its own.
  ASSERT_TRUE(heard(redis_.port(), controlMessage("F2", "second")));
  ASSERT_TRUE(waitLogged("data:second --", kDeliveryWaitMs)) << diagnostics();
  ASSERT_TRUE(waitUntil([&] {
    const std::string log = readFile(root_.logPath());
    const std::size_t first = log.find(refused);
    return first != std::string::npos && log.find(refused, first + 1) != std::string::npos;
  }, kDeliveryWaitMs, kPollMs)) << diagnostics();
  EXPECT_TRUE(service_.process().running());
}

// One service meets every kind of misbehaving receiver in turn, then a sound one.
TEST_F(FaultInjectionTest, MisbehavingReceiverNeverStopsTheForwarding) {
  startWithMaster();
  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();
  ASSERT_TRUE(deliver(redis_.port(), "M0"));
  ASSERT_TRUE(waitLogged("data:ok --")) << diagnostics();
  const std::size_t fdsBefore = openDescriptors(pid());

  struct Fault {
    const char* key;
    HttpTestServer::Mode mode;
    int status;
    std::string reply;  // raw bytes when not empty
  };
  const std::string fiftyMegabytes =
      "HTTP/1.1 200 OK\r\nContent-Length: 52428800\r\nConnection: close\r\n\r\n" +
      std::string(50u << 20, 'x');
  const Fault faults[] = {
      {"M1", HttpTestServer::Mode::kAnswer, 500, ""},
      {"M2", HttpTestServer::Mode::kReset, 200, ""},
      {"M3", HttpTestServer::Mode::kClose, 200, ""},
      {"M4", HttpTestServer::Mode::kAnswer, 200, std::string("\x16\x03\x01\xff\x00" "garbage\r\n\r\n", 16)},
      {"M5", HttpTestServer::Mode::kAnswer, 200,
       "HTTP/1.1 200 OK\r\nContent-Length: -7\r\nTransfer-Encoding: bogus\r\n\r\nxx"},
      {"M6", HttpTestServer::Mode::kAnswer, 200, fiftyMegabytes},
  };
  for (const Fault& f : faults) {
    receiver_.setReply(f.status, "server error");
    if (!f.reply.empty()) receiver_.setRawReply(f.reply);
    receiver_.setMode(f.mode);
    ASSERT_TRUE(deliver(redis_.port(), f.key)) << f.key << "\n" << diagnostics();
    ASSERT_TRUE(service_.process().running()) << f.key << "\n" << diagnostics();
  }
  EXPECT_TRUE(waitLogged("data:server error --")) << diagnostics();

  // A receiver that answers only after 20 s: the exchange is given up after 15 s and
  // the next batch goes out.
  receiver_.setMode(HttpTestServer::Mode::kSlowAnswer);
  receiver_.setDelayMs(20000);
  ASSERT_TRUE(deliver(redis_.port(), "M7")) << diagnostics();
  receiver_.setReply(200, "ok");
  receiver_.setMode(HttpTestServer::Mode::kAnswer);
  const auto slowSent = Clock::now();
  ASSERT_TRUE(heard(redis_.port(), controlMessage("M8", "after the stall")));
  ASSERT_TRUE(waitUntil([&] { return deliveries(receiver_, "M8") == 1; }, 30000, kPollMs))
      << diagnostics();
  ASSERT_TRUE(waitLogged("data:after the stall --")) << diagnostics();
  ASSERT_TRUE(waitUntil([&] {
    const std::string log = readFile(root_.logPath());
    const std::size_t stall = log.find("data:after the stall --");
    return stall != std::string::npos && log.find("data:ok --", stall) != std::string::npos;
  }, 5000, kPollMs)) << diagnostics();
  EXPECT_LT(Clock::now() - slowSent, std::chrono::seconds(25));

  for (const char* key : {"M0", "M1", "M2", "M3", "M4", "M5", "M6", "M7", "M8"}) {
    EXPECT_EQ(deliveries(receiver_, key), 1u) << key;
  }
  EXPECT_TRUE(service_.process().running());
  // Every connection of the exchanges was closed again.
  EXPECT_LE(openDescriptors(pid()), fdsBefore) << diagnostics();
  const long peakKb = procStatusKb(pid(), "VmHWM");
  // Memory ceilings are the end-to-end benchmark's to judge; printed for the record.
  std::printf("receiver faults: service VmHWM %ld kB\n", peakKb);
}

TEST_F(FaultInjectionTest, TenMegabyteMessageIsDeliveredWhole) {
  startWithMaster();
  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();

  std::string description(10u << 20, 'd');
  for (std::size_t i = 0; i < description.size(); i += 4096) description[i] = 'a' + (i >> 12) % 26;
  ASSERT_TRUE(heard(redis_.port(), controlMessage("BIG", description)));
  ASSERT_TRUE(waitUntil([&] { return deliveries(receiver_, "BIG") == 1; }, 60000, 100))
      << diagnostics();
  const HttpTestServer::Request request = receiver_.requests().back();
  EXPECT_TRUE(request.complete);
  EXPECT_NE(request.body.find("{\"description\":\"" + description + "\",\"eventType\""),
            std::string::npos);

  // Small messages still pass afterwards.
  ASSERT_TRUE(deliver(redis_.port(), "SMALL")) << diagnostics();
  EXPECT_TRUE(service_.process().running());
}

TEST_F(FaultInjectionTest, FiftyThousandMessageBurstIsTrimmedWithBoundedMemory) {
  // A receiver taking 50 ms per document drains about 2,000 records a second, so the
  // burst outruns it and the queue has to be cut back.
  receiver_.setMode(HttpTestServer::Mode::kSlowAnswer);
  receiver_.setDelayMs(50);
  startWithMaster(0);
  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();
  const long rssBefore = procStatusKb(pid(), "VmRSS");

  constexpr int kBurst = 50000;
  RedisContextPtr c = connectRedis(redis_.port());
  ASSERT_TRUE(redisUsable(c));
  for (int i = 0; i < kBurst; ++i) {
    const std::string m = controlMessage("B" + std::to_string(i));
    redisAppendCommand(c.get(), "PUBLISH almTopic %b", m.data(), m.size());
  }
  long peakRss = rssBefore;
  for (int i = 0; i < kBurst; ++i) {
    void* raw = nullptr;
    ASSERT_EQ(redisGetReply(c.get(), &raw), REDIS_OK);
    RedisReplyPtr r(static_cast<redisReply*>(raw));
    ASSERT_EQ(r->type, REDIS_REPLY_INTEGER);
    if (i % 1000 == 0) peakRss = std::max(peakRss, procStatusKb(pid(), "VmRSS"));
  }

  // Everything before the marker has been dealt with once the marker arrives.
  ASSERT_TRUE(heard(redis_.port(), controlMessage("END")));
  ASSERT_TRUE(waitUntil([&] {
    peakRss = std::max(peakRss, procStatusKb(pid(), "VmRSS"));
    return deliveries(receiver_, "END") == 1;
  }, 120000, 100)) << diagnostics();

  // The last trim keeps the newest 8000 texts, which may include the marker.
  const std::size_t delivered = recordsDelivered(receiver_) - 1;
  EXPECT_LT(delivered, static_cast<std::size_t>(kBurst));  // the oldest were dropped
  EXPECT_GE(delivered + 1, 8000u);                          // the newest 8000 were kept
  EXPECT_EQ(deliveries(receiver_, "B" + std::to_string(kBurst - 1)), 1u);
  EXPECT_TRUE(service_.process().running());
  std::printf("burst: %zu of %d records delivered, VmRSS %ld kB before, peak %ld kB\n",
              delivered, kBurst, rssBefore, peakRss);
}

TEST_F(FaultInjectionTest, SyncSettingsRewrittenThenDeletedWhileRunning) {
  const auto started = Clock::now();
  startWithMaster();
  ASSERT_TRUE(waitSubscribed(redis_.port())) << diagnostics();
  ASSERT_TRUE(deliver(redis_.port(), "S1"));
  ASSERT_TRUE(waitLogged("data:Breaker 12 closed --")) << diagnostics();

  // Rewritten with junk that names another URL, no dictionaries and the run log off:
  // only the run-log switch is ever read again, at most every 30 s.
  const std::string longLine(5000, 'j');
  root_.writeCfg("logsynset.ini",
                 std::string("\xff\xfe\x00junk\n", 8) + longLine + "\n[tovraurl]\nurl=http://127.0.0.1:1/x\n"
                 "[appSysId]\nappsysidnum=0\n[stationInfo]\nstationnum=0\n"
                 "[synLogFlag]\nFlag=0\n");
  ASSERT_TRUE(heard(redis_.port(), controlMessage("S2", "before the re-read")));
  ASSERT_TRUE(waitUntil([&] { return deliveries(receiver_, "S2") == 1; }, kDeliveryWaitMs,
                        kPollMs)) << diagnostics();
  ASSERT_TRUE(waitLogged("data:before the re-read --")) << diagnostics();

  std::this_thread::sleep_until(started + std::chrono::seconds(34));
  ASSERT_TRUE(heard(redis_.port(), controlMessage("S3", "after the re-read")));
  ASSERT_TRUE(waitUntil([&] { return deliveries(receiver_, "S3") == 1; }, kDeliveryWaitMs,
                        kPollMs)) << diagnostics();
  EXPECT_FALSE(logged("data:after the re-read --"));

  std::filesystem::remove(root_.cfgPath("logsynset.ini"));
  ASSERT_TRUE(deliver(redis_.port(), "S4")) << diagnostics();
  EXPECT_TRUE(service_.process().running());
}

}  // namespace
