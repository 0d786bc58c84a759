// The durable queue's settle rules in one process: a real redis-server holds the
// stream, a real HTTP server judges each document, and forwardOnce runs on the test
// thread with StreamQueue. Each case is a receiver that rejects, fails or answers
// oddly for some documents only.
#include <hiredis/hiredis.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/sync_config.h"
#include "config/tarvex_options.h"
#include "delivery/http_delivery.h"
#include "gtest/gtest.h"
#include "host/forwarding_loop.h"
#include "host/run_flag.h"
#include "durable/durable_keys.h"
#include "host/run_log.h"
#include "redis/redis_handles.h"
#include "durable/stream_queue.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string record(const std::string& key, const std::string& desc = "closed") {
  return "{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
         "\"devicekey\":\"" + key + "\",\"appsysid\":\"3\",\"chardesc\":\"" + desc + "\","
         "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}";
}

std::string message(const std::string& key, const std::string& desc = "closed") {
  return "[" + record(key, desc) + "]";
}

// Keys of the records in a document body, in order.
std::vector<std::string> keysIn(const std::string& body) {
  std::vector<std::string> keys;
  const std::string marker = "\"guid\":\"1709629622:250:";
  for (std::size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at + 1)) {
    const std::size_t start = at + marker.size();
    keys.push_back(body.substr(start, body.find(':', start) - start));
  }
  return keys;
}

struct DeadLetter {
  std::string text, status, reply, time;
};

class DurableSettleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(redis_.start({"--enable-debug-command", "local"}));
    ASSERT_TRUE(receiver_.start());
    configure("RetryMaxSeconds=1\n");
    RunFlag.store(1);
  }
  void TearDown() override { RunFlag.store(0); }

  void configure(const std::string& durableExtra) {
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1"
                   "\nMasterPort0=" + std::to_string(redis_.port()) + "\n[Format]\nOvertimeSec=1\n");
    root_.writeCfg("logsynset.ini",
                   "[synLogFlag]\nFlag=0\n[tovraurl]\nurl=" + receiver_.url("/log") +
                       "\n[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
                       "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
                       "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n");
    root_.writeCfg("tarvex.ini", "[Durable]\nDurable=1\n" + durableExtra);
  }

  void capture(const std::vector<std::string>& texts) {
    for (const std::string& t : texts) redis_.cli({"XADD", kCaptureStream, "*", "text", t});
  }

  // forwardOnce until a take finds nothing, at most `rounds` takes.
  void forwardAll(StreamQueue& queue, int rounds = 50) {
    TarvexOptions options;
    options.load();
    SyncConfig config;
    RunLog runLog(config.logFlag);
    HttpDelivery delivery(options);
    for (int i = 0; i < rounds; ++i) {
      if (forwardOnce(config, runLog, queue, delivery, config.url, kJsonHeaders) == 0 &&
          redis_.cli({"XPENDING", kCaptureStream, kForwarderGroup}).rfind("0", 0) == 0 &&
          i > 3) {
        return;
      }
    }
  }

  std::vector<DeadLetter> deadLetters() {
    RedisContextPtr c(redisConnect("127.0.0.1", redis_.port()));
    RedisReplyPtr r(static_cast<redisReply*>(redisCommand(c.get(), "XRANGE %s - +", kDeadLetterStream)));
    std::vector<DeadLetter> out;
    for (std::size_t i = 0; r != nullptr && i < r->elements; ++i) {
      const redisReply* f = r->element[i]->element[1];
      DeadLetter d;
      for (std::size_t j = 0; j + 1 < f->elements; j += 2) {
        const std::string name(f->element[j]->str, f->element[j]->len);
        const std::string value(f->element[j + 1]->str, f->element[j + 1]->len);
        if (name == "text") d.text = value;
        if (name == "status") d.status = value;
        if (name == "reply") d.reply = value;
        if (name == "time") d.time = value;
      }
      out.push_back(d);
    }
    return out;
  }

  // Keys the receiver answered 2xx for, in order.
  std::vector<std::string> accepted() {
    std::vector<std::string> keys;
    std::lock_guard<std::mutex> lock(acceptedMu_);
    return accepted_;
  }

  // A receiver that answers `judge(body)` and remembers what it took.
  void judgeWith(std::function<std::pair<int, std::string>(const std::string&)> judge) {
    receiver_.setResponder([this, judge](const HttpTestServer::Request& req) {
      auto answer = judge(req.body);
      if (answer.first / 100 == 2) {
        std::lock_guard<std::mutex> lock(acceptedMu_);
        for (const std::string& k : keysIn(req.body)) accepted_.push_back(k);
      }
      return answer;
    });
  }

  std::string pendingCount() {
    const std::string s = redis_.cli({"XPENDING", kCaptureStream, kForwarderGroup});
    return s.substr(0, s.find('\n'));
  }

  RedisServerProcess redis_;
  HttpTestServer receiver_;
  TempRoot root_;
  std::mutex acceptedMu_;
  std::vector<std::string> accepted_;  // guarded by acceptedMu_
};

std::vector<std::string> keyRange(const std::string& prefix, int n) {
  std::vector<std::string> keys;
  for (int i = 0; i < n; ++i) keys.push_back(prefix + std::to_string(i));
  return keys;
}

TEST_F(DurableSettleTest, RejectedRecordAloneGoesAsideWithItsReplyCutAndTheRestIsDelivered) {
  const std::string hugeReply(1 << 20, 'r');
  judgeWith([&](const std::string& body) -> std::pair<int, std::string> {
    if (body.find("BAD7") != std::string::npos) return {400, hugeReply};
    return {200, "ok"};
  });
  std::vector<std::string> texts;
  for (const std::string& k : keyRange("k", 10)) texts.push_back(message(k == "k7" ? "BAD7" : k));
  capture(texts);
  StreamQueue queue("settleHost");
  forwardAll(queue);

  const std::vector<DeadLetter> dead = deadLetters();
  ASSERT_EQ(1u, dead.size());
  EXPECT_EQ(message("BAD7"), dead[0].text);
  EXPECT_EQ("400", dead[0].status);
  EXPECT_EQ(std::string(kDeadLetterReplyBytes, 'r'), dead[0].reply);
  EXPECT_FALSE(dead[0].time.empty());
  std::vector<std::string> expected = keyRange("k", 10);
  expected.erase(expected.begin() + 7);
  EXPECT_EQ(expected, accepted());  // in order, each once
  EXPECT_EQ("0", pendingCount());
}

TEST_F(DurableSettleTest, DocumentTooLargeIsSplitAndOnlyATextTooLargeAloneGoesAside) {
  // 413 for any document over 3 records' worth, and for the one oversized text.
  judgeWith([&](const std::string& body) -> std::pair<int, std::string> {
    if (keysIn(body).size() > 3 || body.size() > 20000) return {413, "too large"};
    return {200, "ok"};
  });
  std::vector<std::string> texts;
  for (const std::string& k : keyRange("s", 9)) texts.push_back(message(k));
  texts.push_back(message("BIG", std::string(30000, 'd')));
  capture(texts);
  StreamQueue queue("splitHost");
  forwardAll(queue);

  EXPECT_EQ(keyRange("s", 9), accepted());
  const std::vector<DeadLetter> dead = deadLetters();
  ASSERT_EQ(1u, dead.size());
  EXPECT_EQ("413", dead[0].status);
  EXPECT_NE(std::string::npos, dead[0].text.find("BIG"));
  EXPECT_EQ("0", pendingCount());
}

TEST_F(DurableSettleTest, DocumentFailingWith500WhileOthersAreTakenIsPoisonButAnOutageSetsNothingAside) {
  // An outage: every document fails with 500 for 4 s, well past the poison rule's
  // five attempts over RetryMaxSeconds=1; nothing may go aside.
  const auto outageEnds = Clock::now() + std::chrono::seconds(4);
  judgeWith([&](const std::string& body) -> std::pair<int, std::string> {
    if (Clock::now() < outageEnds) return {500, "down"};
    if (body.find("POISON") != std::string::npos) return {500, "cannot store"};
    return {200, "ok"};
  });
  capture({message("o0"), message("o1"), message("o2")});
  StreamQueue queue("poisonHost");
  forwardAll(queue);
  EXPECT_EQ(keyRange("o", 3), accepted());
  EXPECT_TRUE(deadLetters().empty());

  // Now one text the receiver never takes, among good ones: only it goes aside.
  capture({message("p0"), message("POISON"), message("p1"), message("p2")});
  forwardAll(queue, 200);
  const std::vector<DeadLetter> dead = deadLetters();
  ASSERT_EQ(1u, dead.size());
  EXPECT_EQ(message("POISON"), dead[0].text);
  EXPECT_EQ("500", dead[0].status);
  std::vector<std::string> expected = keyRange("o", 3);
  for (const char* k : {"p0", "p1", "p2"}) expected.push_back(k);
  EXPECT_EQ(expected, accepted());
  EXPECT_EQ("0", pendingCount());
}

TEST_F(DurableSettleTest, WrongCredentialsAreRetriedUntilMendedAndNothingGoesAside) {
  const auto mended = Clock::now() + std::chrono::seconds(10);
  judgeWith([&](const std::string&) -> std::pair<int, std::string> {
    if (Clock::now() < mended) return {401, "token expired"};
    return {200, "ok"};
  });
  capture({message("c0"), message("c1")});
  StreamQueue queue("credentialsHost");
  forwardAll(queue);
  EXPECT_EQ(keyRange("c", 2), accepted());
  EXPECT_TRUE(deadLetters().empty());
  EXPECT_GE(receiver_.requests().size(), 5u);  // retried all along
}

TEST_F(DurableSettleTest, SuccessWithAReplyTooLongToKeepIsAcknowledgedNotPostedAgain) {
  const std::string huge(20u << 20, 'z');
  judgeWith([&](const std::string&) -> std::pair<int, std::string> { return {200, huge}; });
  capture({message("z0")});
  StreamQueue queue("longReplyHost");
  forwardAll(queue);
  EXPECT_EQ(std::vector<std::string>{"z0"}, accepted());
  EXPECT_EQ(1u, receiver_.requests().size());
  EXPECT_EQ("0", pendingCount());
}

TEST_F(DurableSettleTest, ReadWhoseReplyWasLostIsDeliveredWithoutATakeover) {
  judgeWith([](const std::string&) -> std::pair<int, std::string> { return {200, "ok"}; });
  StreamQueue queue("lostReplyHost");
  capture({message("l0")});
  forwardAll(queue);  // past the group's creation and the first claims
  capture({message("l1"), message("l2"), message("l3")});
  // The next read meets a server asleep past the command time-out (1 s): Redis runs
  // it when it wakes, so the entries are pending under this name, but the reply
  // never reaches the queue.
  std::thread sleeper([&] { redis_.cli({"DEBUG", "SLEEP", "2.5"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  forwardAll(queue);
  sleeper.join();
  EXPECT_EQ(keyRange("l", 4), accepted());
  EXPECT_EQ("0", pendingCount());
}

}  // namespace
