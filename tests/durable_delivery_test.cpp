// Durable delivery on the real binary: hosts in their own namespaces, a real
// redis-server and a real receiver. Each case checks that every control record
// published while some copy was subscribed reaches the receiver.
#include <hiredis/hiredis.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "durable/seen_marker.h"
#include "config/timing.h"
#include "host/messages.h"
#include "durable/durable_keys.h"
#include "redis/redis_handles.h"
#include "redis/subscriber.h"
#include "redis/use_flag.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 30000;         // bound of a wait for the service to react
constexpr int kTakeoverWaitMs = 60000;  // a standby taking over a dead owner

std::string controlMessage(const std::string& key) {
  return "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
         "\"devicekey\":\"" + key + "\",\"appsysid\":\"3\",\"chardesc\":\"closed\","
         "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]";
}

// Record keys in the order their first copy reached the receiver, and how often
// each came.
struct Deliveries {
  std::vector<std::string> order;
  std::map<std::string, int> count;
};

Deliveries deliveriesOf(const HttpTestServer& server) {
  Deliveries d;
  const std::string marker = "\"guid\":\"1709629622:250:";
  for (const HttpTestServer::Request& r : server.requests()) {
    for (std::size_t at = r.body.find(marker); at != std::string::npos;
         at = r.body.find(marker, at + 1)) {
      const std::size_t start = at + marker.size();
      const std::string key = r.body.substr(start, r.body.find(':', start) - start);
      if (d.count[key]++ == 0) d.order.push_back(key);
    }
  }
  return d;
}

// One host: its own root and instance, durable delivery on.
class Host {
 public:
  Host(const std::string& name, int redisPort, const std::string& url,
       const std::string& durableExtra = "", bool durable = true, bool runLog = true)
      : name_(name), redisPort_(redisPort), runLog_(runLog),
        instance_(std::make_unique<TarvexInstance>(root_.path(), name)) {
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1"
                   "\nMasterPort0=" + std::to_string(redisPort) + "\n[Format]\nOvertimeSec=2\n");
    root_.writeCfg("logsynset.ini",
                   std::string("[synLogFlag]\nFlag=") + (runLog ? "1" : "0") + "\n[tovraurl]\nurl=" + url +
                       "\n[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
                       "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
                       "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n");
    root_.writeCfg("tarvex.ini",
                   std::string("[Durable]\nDurable=") + (durable ? "1" : "0") + "\n" + durableExtra);
  }

  bool start() { return instance_->start({"-self"}); }
  // Starts the same host again after it ended (same name, same root).
  bool restart() {
    instance_ = std::make_unique<TarvexInstance>(root_.path(), name_);
    return start();
  }
  void kill() { instance_->kill(); }
  bool running() { return instance_->process().running(); }
  // Peak resident memory of the service so far, in kB (-1 once it has ended).
  long peakRssKb() {
    std::ifstream in("/proc/" + std::to_string(instance_->process().pid()) + "/status");
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
  }
  std::string output() const { return instance_->output(); }
  std::string log() const { return readFile(root_.logPath()); }
  bool waitOwner(int timeoutMs) const {
    if (!runLog_) {
      // No run log to read: the owner hash names this host.
      return waitUntil([&] {
        RedisContextPtr c(redisConnect("127.0.0.1", redisPort_));
        RedisReplyPtr r(static_cast<redisReply*>(redisCommand(c.get(), "HGET useflag:tarvex host")));
        return r != nullptr && r->type == REDIS_REPLY_STRING && name_ == r->str;
      }, timeoutMs, 50);
    }
    return waitUntil([&] { return log().find(kOwnLine) != std::string::npos; }, timeoutMs, 50);
  }
  std::size_t countInLog(const std::string& text) const {
    const std::string l = log();
    std::size_t n = 0;
    for (std::size_t at = l.find(text); at != std::string::npos; at = l.find(text, at + 1)) ++n;
    return n;
  }

 private:
  std::string name_;
  int redisPort_;
  bool runLog_;  // the run log is on (logsynset.ini Flag=1)
  TempRoot root_;
  std::unique_ptr<TarvexInstance> instance_;
};

class DurableDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare -u -m";
    ASSERT_TRUE(redis_.start());
    ASSERT_TRUE(receiver_.start());
  }

  // Publishes messages keyed prefix+first .. prefix+(first+n-1), pipelined.
  void publish(const std::string& prefix, int first, int n) {
    RedisContextPtr c(redisConnect("127.0.0.1", redis_.port()));
    ASSERT_TRUE(redisUsable(c));
    for (int i = first; i < first + n; ++i) {
      const std::string msg = controlMessage(prefix + std::to_string(i));
      const char* argv[] = {"PUBLISH", "almTopic", msg.data()};
      const std::size_t argvlen[] = {7, 8, msg.size()};
      redisAppendCommandArgv(c.get(), 3, argv, argvlen);
    }
    for (int i = 0; i < n; ++i) {
      void* raw = nullptr;
      ASSERT_EQ(REDIS_OK, redisGetReply(c.get(), &raw));
      freeReplyObject(raw);
    }
  }

  int subscribers() {
    const std::string out = redis_.cli({"PUBSUB", "NUMSUB", "almTopic"});
    return std::atoi(out.substr(out.find('\n') + 1).c_str());
  }

  // Every key prefix+0 .. prefix+(n-1) delivered at least once.
  bool allDelivered(const std::string& prefix, int n) {
    const Deliveries d = deliveriesOf(receiver_);
    for (int i = 0; i < n; ++i) {
      if (d.count.count(prefix + std::to_string(i)) == 0) return false;
    }
    return true;
  }
  std::vector<int> missing(const std::string& prefix, int n) {
    const Deliveries d = deliveriesOf(receiver_);
    std::vector<int> out;
    for (int i = 0; i < n; ++i) {
      if (d.count.count(prefix + std::to_string(i)) == 0) out.push_back(i);
    }
    return out;
  }

  RedisServerProcess redis_;
  HttpTestServer receiver_;
};

TEST_F(DurableDeliveryTest, ReceiverDownThenFailingLosesNothingAndRetriesBackOff) {
  Host host("durableA", redis_.port(), receiver_.url("/log"), "RetryMaxSeconds=4\n");
  ASSERT_TRUE(host.start());
  ASSERT_TRUE(host.waitOwner(kWaitMs));
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
  const int port = receiver_.port();
  receiver_.stop();

  // 20 s refused, then 10 s of 500, then 200; one message every 100 ms throughout.
  int sent = 0;
  const Clock::time_point start = Clock::now();
  bool failing = false;
  while (Clock::now() - start < std::chrono::seconds(30)) {
    if (!failing && Clock::now() - start >= std::chrono::seconds(20)) {
      receiver_.setReply(500, "busy");
      ASSERT_TRUE(receiver_.start(port));
      failing = true;
    }
    publish("R", sent++, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::size_t failedAttempts = receiver_.requests().size();
  receiver_.setReply(200, "ok");
  ASSERT_TRUE(waitUntil([&] { return allDelivered("R", sent); }, kWaitMs, 200))
      << missing("R", sent).size() << " of " << sent << " missing";

  // In publish order, and each refused or failed attempt was logged; the pauses
  // (1, 2, 4, 4, ... s) keep the attempts few.
  const Deliveries d = deliveriesOf(receiver_);
  for (int i = 0; i < sent; ++i) ASSERT_EQ("R" + std::to_string(i), d.order[i]);
  const std::size_t refused = host.countInLog("restful connectfailed,getalldata failed");
  std::printf("%d records; %zu refused attempts in 20 s, %zu answered 500 in 10 s\n", sent,
              refused, failedAttempts);
  EXPECT_GE(refused, 4u);
  EXPECT_LE(refused, 10u);
  EXPECT_GE(failedAttempts, 2u);
  EXPECT_LE(failedAttempts, 5u);
  EXPECT_EQ("0", redis_.cli({"XLEN", kDeadLetterStream}));
}

// Copies agree on "once" through the marker keys: the service computes them as
// Redis's own SHA-1 does (as copies of earlier releases did in the script), and a
// text that comes twice in one capture call is added once.
TEST_F(DurableDeliveryTest, CaptureAddsATextOnceUnderTheMarkerEveryCopyComputes) {
  const std::string a = "[{\"classname\":\"Control\",\"devicekey\":\"A\"}]";
  const std::string b = "GBK bytes \xb2\xe2";
  const std::string c = "c";
  EXPECT_EQ(seenMarkerKey(a), "tarvex:seen:" + redis_.cli({"EVAL", "return redis.sha1hex(ARGV[1])", "0", a}));
  EXPECT_EQ(seenMarkerKey(b), "tarvex:seen:" + redis_.cli({"EVAL", "return redis.sha1hex(ARGV[1])", "0", b}));
  EXPECT_EQ("2", redis_.cli({"EVAL", kCaptureScript, "4", kCaptureStream, seenMarkerKey(a),
                             seenMarkerKey(b), seenMarkerKey(a), "1000000", "600", a, b, a}));
  EXPECT_EQ("1", redis_.cli({"EVAL", kCaptureScript, "3", kCaptureStream, seenMarkerKey(b),
                             seenMarkerKey(c), "1000000", "600", b, c}));
  EXPECT_EQ("3", redis_.cli({"XLEN", kCaptureStream}));
  const long ttl = std::stol(redis_.cli({"TTL", seenMarkerKey(c)}));
  EXPECT_GT(ttl, 0);
  EXPECT_LE(ttl, 600);
}

TEST_F(DurableDeliveryTest, RejectedDocumentIsSetAsideAndTheNextIsDelivered) {
  EXPECT_EQ(kCaptureScriptSha, redis_.cli({"SCRIPT", "LOAD", kCaptureScript}));
  redis_.cli({"SCRIPT", "FLUSH"});  // the first capture finds no script: EVAL
  receiver_.setReply(400, "bad document");
  Host host("durableB", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(host.start());
  ASSERT_TRUE(host.waitOwner(kWaitMs));
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
  publish("D", 0, 1);
  ASSERT_TRUE(waitUntil([&] { return redis_.cli({"XLEN", kDeadLetterStream}) == "1"; }, kWaitMs,
                        50))
      << receiver_.requests().size() << " posts; capture " << redis_.cli({"XLEN", kCaptureStream})
      << "\n" << host.output() << host.log();
  receiver_.setReply(200, "ok");
  publish("D", 1, 1);
  ASSERT_TRUE(waitUntil([&] { return deliveriesOf(receiver_).count.count("D1") == 1; }, kWaitMs,
                        50));
  const std::string dead = redis_.cli({"XRANGE", kDeadLetterStream, "-", "+"});
  EXPECT_NE(std::string::npos, dead.find("text\n" + controlMessage("D0") + "\nstatus\n400\n"
                                         "reply\nbad document")) << dead;
  EXPECT_EQ(1, deliveriesOf(receiver_).count["D0"]);  // posted once, never again
  EXPECT_TRUE(waitUntil([&] {
    const std::string summary = redis_.cli({"XPENDING", kCaptureStream, kForwarderGroup});
    return summary.substr(0, summary.find('\n')) == "0";
  }, kWaitMs, 100));
}

TEST_F(DurableDeliveryTest, OwnerKilledMidStreamLosesNothingThroughTheTakeover) {
  Host a("durableOwner", redis_.port(), receiver_.url("/log"));
  Host b("durableStandby", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(a.waitOwner(kWaitMs));
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 2; }, kWaitMs, 50));

  // 20 messages a second from before the kill until the standby delivers.
  int sent = 0;
  for (; sent < 40; ++sent) {
    publish("K", sent, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  a.kill();
  const Clock::time_point killed = Clock::now();
  bool tookOver = false;
  while (Clock::now() - killed < std::chrono::milliseconds(kTakeoverWaitMs)) {
    publish("K", sent++, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!tookOver && b.log().find(kOwnLine) != std::string::npos) {
      tookOver = true;
      std::printf("standby took over %.1f s after the kill\n",
                  std::chrono::duration<double>(Clock::now() - killed).count());
    }
    if (tookOver && deliveriesOf(receiver_).count.count("K" + std::to_string(sent - 1))) break;
  }
  ASSERT_TRUE(tookOver);
  for (int i = 0; i < 20; ++i) publish("K", sent++, 1);
  ASSERT_TRUE(waitUntil([&] { return allDelivered("K", sent); }, kWaitMs, 200))
      << missing("K", sent).size() << " of " << sent << " missing";
  int repeats = 0;
  for (const auto& kv : deliveriesOf(receiver_).count) repeats += kv.second - 1;
  std::printf("%d records delivered, %d repeats\n", sent, repeats);
  EXPECT_LE(repeats, 100);  // at most the batch in flight at the kill
}

TEST_F(DurableDeliveryTest, OwnerRestartedOnItsHostDeliversWhatTheStandbyCaptured) {
  Host a("durableHome", redis_.port(), receiver_.url("/log"));
  Host b("durableOther", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(a.waitOwner(kWaitMs));
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 2; }, kWaitMs, 50));
  a.kill();
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
  publish("H", 0, 10);  // only the standby hears these
  ASSERT_TRUE(waitUntil([&] { return redis_.cli({"XLEN", kCaptureStream}) == "10"; }, kWaitMs,
                        50));
  ASSERT_TRUE(a.restart());  // the hash names this host: it owns the work at once
  ASSERT_TRUE(waitUntil([&] { return allDelivered("H", 10); }, kWaitMs, 100))
      << missing("H", 10).size() << " missing";
  EXPECT_EQ(std::string::npos, b.log().find(kOwnLine));
}

TEST_F(DurableDeliveryTest, BurstAtFullPublisherSpeedIsDeliveredWholeInBoundedMemory) {
  constexpr int kBurst = 200000;
  Host a("durableBurstA", redis_.port(), receiver_.url("/log"));
  Host b("durableBurstB", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(a.waitOwner(kWaitMs));
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 2; }, kWaitMs, 50));
  const Clock::time_point start = Clock::now();
  publish("B", 0, kBurst);
  const double published = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_TRUE(waitUntil([&] { return receiver_.requests().size() >= kBurst / 100; }, 180000,
                        500)) << receiver_.requests().size() << " documents";
  ASSERT_TRUE(waitUntil([&] { return allDelivered("B", kBurst); }, kWaitMs, 500))
      << missing("B", kBurst).size() << " of " << kBurst << " missing";
  const double delivered = std::chrono::duration<double>(Clock::now() - start).count();
  const long peakA = a.peakRssKb();
  const long peakB = b.peakRssKb();
  std::printf("%d records published in %.1f s, delivered in %.1f s; peak RSS %ld kB (owner), "
              "%ld kB (standby)\n", kBurst, published, delivered, peakA, peakB);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // A sanitizer's shadow memory and quarantine would be measured with the texts.
  EXPECT_LT(peakA, 64 * 1024);
  EXPECT_LT(peakB, 64 * 1024);
#endif
  EXPECT_EQ(std::to_string(kBurst), redis_.cli({"XLEN", kCaptureStream}));
  // Without a fault every record goes out once (each arrived, and no more arrived
  // than were published), though the owner reads the backlog several batches ahead.
  EXPECT_EQ(static_cast<std::size_t>(kBurst), deliveriesOf(receiver_).order.size());
}

// A channel quiet for longer than the command time-out (2 s here) keeps its
// subscription: a message published at any moment of the quiet reaches the copy.
TEST_F(DurableDeliveryTest, QuietChannelKeepsTheSubscriptionWithoutAGap) {
  Host host("durableQuiet", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(host.start());
  ASSERT_TRUE(host.waitOwner(kWaitMs));
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
  const std::string id = redis_.cli({"CLIENT", "LIST", "TYPE", "pubsub"});
  std::this_thread::sleep_for(std::chrono::seconds(7));
  EXPECT_EQ(std::string::npos, host.output().find("subscription gap")) << host.output();
  EXPECT_EQ(id.substr(0, id.find(' ')),
            redis_.cli({"CLIENT", "LIST", "TYPE", "pubsub"}).substr(0, id.find(' ')));
  publish("Q", 0, 1);
  EXPECT_TRUE(waitUntil([&] { return allDelivered("Q", 1); }, kWaitMs, 50));
}

// A failover's Sentinel ends every subscription on the nodes it reconfigures
// (CLIENT KILL TYPE pubsub): a copy subscribes again at once, not after the usual
// 1 s pause, and what is published after it is back arrives.
TEST_F(DurableDeliveryTest, SubscriptionEndedByTheServerIsMadeAgainWithoutThePause) {
  Host host("durableKilled", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(host.start());
  ASSERT_TRUE(host.waitOwner(kWaitMs));
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
  // Only a subscription held for a while is made again at once.
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kQuickResubscribeHeldMs));
  redis_.cli({"CLIENT", "KILL", "TYPE", "pubsub"});
  const std::string head = "tarvex: subscription gap from ";
  ASSERT_TRUE(waitUntil([&] { return host.output().find(head) != std::string::npos; }, kWaitMs,
                        20)) << host.output();
  const std::string out = host.output();
  const std::size_t open = out.find(" (", out.find(head));
  ASSERT_NE(std::string::npos, open) << out;
  EXPECT_LT(std::atof(out.c_str() + open + 2), 1.0) << out;
  EXPECT_NE(std::string::npos, out.find(" s, subscription lost): ", open)) << out;
  publish("K", 0, 1);
  EXPECT_TRUE(waitUntil([&] { return allDelivered("K", 1); }, kWaitMs, 50));
}

TEST_F(DurableDeliveryTest, MessageWhileEveryCopyIsDownIsReportedAsAGapByEach) {
  Host a("durableGapA", redis_.port(), receiver_.url("/log"));
  Host b("durableGapB", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(a.waitOwner(kWaitMs));
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 2; }, kWaitMs, 50));
  // Each has noted that it was subscribed.
  ASSERT_TRUE(waitUntil([&] { return redis_.cli({"HLEN", kAliveHash}) == "2"; }, kWaitMs, 50));
  a.kill();
  b.kill();
  publish("G", 0, 1);  // nobody listens
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_TRUE(a.restart());
  ASSERT_TRUE(b.restart());
  const std::string line = "s, this copy was not running): messages published then were not "
                           "received by this copy\n";
  for (Host* h : {&a, &b}) {
    EXPECT_TRUE(waitUntil([&] { return h->output().find(line) != std::string::npos; }, kWaitMs,
                          100)) << h->output();
    EXPECT_EQ(0u, h->output().find("tarvex: subscription gap from ")) << h->output();
  }
  publish("G", 1, 1);
  ASSERT_TRUE(waitUntil([&] { return deliveriesOf(receiver_).count.count("G1") == 1; }, kWaitMs,
                        50));
  EXPECT_EQ(0u, deliveriesOf(receiver_).count.count("G0"));
}

// One text of 16 MB, eight million numbers and the word, then one record whose
// description is 16 MB: in either mode the copy stays in bounded memory and goes on
// delivering. (With the run log on, the description's run-log line is two copies
// more: see the README.)
TEST_F(DurableDeliveryTest, SixteenMegabyteTextsStayInBoundedMemoryInBothModes) {
  std::string numbers = "[";
  for (int i = 0; i < 8000000; ++i) numbers += "0,";
  numbers += "\"Control\"]";
  const std::string longText = controlMessage("LONG" + std::string(16000000, 'd'));
  for (const bool durable : {true, false}) {
    const std::string prefix = durable ? "D" : "M";
    Host host(durable ? "hugeDurable" : "hugeMemory", redis_.port(), receiver_.url("/log"), "",
              durable, false);
    redis_.cli({"DEL", "useflag:tarvex"});
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(host.waitOwner(kWaitMs));
    ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
    // One huge text at a time, each followed by an ordinary record that shows it
    // went through (two back to back would overrun Redis's output buffer limit
    // for a subscriber, 32 MB, which drops the subscription).
    int n = 0;
    for (const std::string* text : std::vector<const std::string*>{&numbers, &longText}) {
      RedisContextPtr c(redisConnect("127.0.0.1", redis_.port()));
      RedisReplyPtr r(static_cast<redisReply*>(
          redisCommand(c.get(), "PUBLISH almTopic %b", text->data(), text->size())));
      ASSERT_NE(nullptr, r);
      publish(prefix, n++, 1);
      ASSERT_TRUE(waitUntil([&] { return allDelivered(prefix, n); }, 60000, 100)) << host.output();
    }
    const long peak = host.peakRssKb();
    std::printf("%s: peak RSS %ld kB after 16 MB texts\n", durable ? "durable" : "in-memory",
                peak);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(peak, 64 * 1024);
#endif
    host.kill();
  }
}

// The capture script adds the entry before it marks the text: a capture the ACL
// refuses leaves no marker, and once XADD is granted the text is captured.
TEST_F(DurableDeliveryTest, CaptureRefusedByTheAclIsAddedOnceGranted) {
  redis_.cli({"ACL", "SETUSER", "svc", "on", ">svc-pw", "~*", "&*", "+@all", "-xadd"});
  Host host("aclHost", redis_.port(), receiver_.url("/log"),
            "[RedisAuth]\nRedisUser=svc\nRedisPassword=svc-pw\n");
  ASSERT_TRUE(host.start());
  ASSERT_TRUE(host.waitOwner(kWaitMs));
  ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
  publish("A", 0, 1);
  ASSERT_TRUE(waitUntil([&] { return redis_.cli({"ACL", "LOG"}).find("xadd") != std::string::npos; },
                        kWaitMs, 50));
  redis_.cli({"ACL", "SETUSER", "svc", "+xadd"});
  EXPECT_TRUE(waitUntil([&] { return allDelivered("A", 1); }, kWaitMs, 100)) << host.output();
}

// Durable documents look like the in-memory ones: a trickle is gathered for up to
// 100 ms per document rather than posted text by text, and a burst fills batches of
// 100. Both hosts see the same trickle, one after the other.
TEST_F(DurableDeliveryTest, TrickleIsGatheredLikeTheInMemoryLoopAndABurstFillsBatches) {
  constexpr int kTrickle = 100;  // one text every 30 ms for 3 s
  std::size_t documents[2] = {0, 0};
  for (const bool durable : {false, true}) {
    const std::string prefix = durable ? "TD" : "TM";
    Host host(durable ? "trickleDurable" : "trickleMemory", redis_.port(), receiver_.url("/log"),
              "", durable);
    redis_.cli({"DEL", "useflag:tarvex"});
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(host.waitOwner(kWaitMs));
    ASSERT_TRUE(waitUntil([&] { return subscribers() == 1; }, kWaitMs, 50));
    const std::size_t before = receiver_.requests().size();
    for (int i = 0; i < kTrickle; ++i) {
      publish(prefix, i, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_TRUE(waitUntil([&] { return allDelivered(prefix, kTrickle); }, kWaitMs, 50));
    documents[durable ? 1 : 0] = receiver_.requests().size() - before;
    if (durable) {
      ASSERT_TRUE(waitUntil([&] {
        return redis_.cli({"XPENDING", kCaptureStream, kForwarderGroup}).rfind("0", 0) == 0;
      }, kWaitMs, 50)) << "not every text was acknowledged";
      // A burst: every document but the last holds 100 records.
      const std::size_t burstFrom = receiver_.requests().size();
      publish("TB", 0, 1000);
      ASSERT_TRUE(waitUntil([&] { return allDelivered("TB", 1000); }, kWaitMs, 50));
      const std::vector<HttpTestServer::Request> all = receiver_.requests();
      std::size_t full = 0;
      for (std::size_t i = burstFrom; i < all.size(); ++i) {
        std::size_t records = 0;
        for (std::size_t at = all[i].body.find("\"guid\""); at != std::string::npos;
             at = all[i].body.find("\"guid\"", at + 1)) {
          ++records;
        }
        if (records == 100) ++full;
      }
      EXPECT_GE(full, 9u) << all.size() - burstFrom << " documents for 1,000 records";
    }
    host.kill();
  }
  std::printf("trickle of %d texts: %zu documents in memory, %zu durable\n", kTrickle,
              documents[0], documents[1]);
  EXPECT_LE(documents[1], 2 * documents[0]);
}

}  // namespace
