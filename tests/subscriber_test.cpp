// The subscription against a private redis-server: what reaches PendingQueue, and
// how a subscription ends and is made again.
#include <hiredis/hiredis.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "queue/pending_queue.h"
#include "config/timing.h"
#include "host/received_texts.h"
#include "host/run_flag.h"
#include "redis/redis_client.h"
#include "redis/redis_handles.h"
#include "redis/subscriber.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/test_env.h"

namespace {

std::deque<std::string> queuedTexts() {
  std::lock_guard<std::mutex> lock(PendingQueueMutex);
  return PendingQueue;
}

void clearQueue() { pendingClear(); }

class SubscriberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearQueue();
    RunFlag.store(1);
    ASSERT_TRUE(server_.start());
    writeSettings(5);
  }

  void TearDown() override {
    stopReader();
    RunFlag.store(0);
    clearQueue();
  }

  void writeSettings(int timeoutSec) {
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n"
                   "[Format]\nOvertimeSec=" + std::to_string(timeoutSec) +
                       "\nOvertimeUsec=0\n"
                       "[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1\nMasterPort0=" +
                       std::to_string(server_.port()) + "\n");
  }

  // Runs subscriptions on a thread of its own the way the service's subscriber
  // thread does (client made on the thread, connect, then subscribe / pause), until
  // stopReader.
  void startReader(std::vector<std::string> channels = {kOperationLogChannel}) {
    reader_ = std::thread([this, channels] {
      RedisClient redisOpt;
      redisOpt.connect(1);
      while (!stop_.load()) {
        int status = redisOpt.subscribeAndReceive(channels, receivedTexts());
        (status == 0 ? endedAfterReading_ : notSubscribed_).fetch_add(1);
        for (int i = 0; i < 10 && !stop_.load(); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(kResubscribePauseMs / 10));
        }
      }
      readerDone_.store(true);
    });
  }

  // RunFlag 0 ends an open subscription only when something arrives: publish until
  // the reader has left.
  void stopReader() {
    if (!reader_.joinable()) return;
    stop_.store(true);
    RunFlag.store(0);
    waitUntil([this] {
      publish("wake-up Control");
      return readerDone_.load();
    }, 15000, 100);
    reader_.join();
  }

  // Publishes `payload` (any bytes) on `channel`; returns the receiver count or -1.
  long long publish(const std::string& payload, const std::string& channel = kOperationLogChannel) {
    RedisContextPtr c(redisConnect("127.0.0.1", server_.port()));
    if (!redisUsable(c)) return -1;
    const char* argv[] = {"PUBLISH", channel.data(), payload.data()};
    const size_t argvlen[] = {7, channel.size(), payload.size()};
    RedisReplyPtr r(static_cast<redisReply*>(redisCommandArgv(c.get(), 3, argv, argvlen)));
    if (r == nullptr || r->type != REDIS_REPLY_INTEGER) return -1;
    return r->integer;
  }

  // Waits until `n` clients listen on "almTopic".
  bool waitForSubscribers(int n = 1) {
    return waitUntil([&] {
      return server_.cli({"PUBSUB", "NUMSUB", kOperationLogChannel}) ==
             std::string(kOperationLogChannel) + "\n" + std::to_string(n);
    }, 10000, 50);
  }

  // Ids of the clients the server counts as subscribed.
  std::vector<std::string> subscribedClients() {
    std::vector<std::string> ids;
    std::string list = server_.cli({"CLIENT", "LIST"});
    std::size_t start = 0;
    while (start < list.size()) {
      std::size_t end = list.find('\n', start);
      if (end == std::string::npos) end = list.size();
      std::string line = list.substr(start, end - start);
      if (line.find(" sub=1 ") != std::string::npos && line.rfind("id=", 0) == 0) {
        ids.push_back(line.substr(3, line.find(' ') - 3));
      }
      start = end + 1;
    }
    return ids;
  }

  bool waitForQueued(std::size_t n) {
    return waitUntil([&] { return pendingSize() >= n; }, 10000);
  }

  TempRoot root_;
  RedisServerProcess server_;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> readerDone_{false};
  std::atomic<int> endedAfterReading_{0};  // calls that returned 0
  std::atomic<int> notSubscribed_{0};      // calls that returned -1
};

TEST_F(SubscriberTest, OnlyPayloadsHoldingControlAreQueuedUnchanged) {
  startReader();
  ASSERT_TRUE(waitForSubscribers());

  const std::string control =
      "[{\"classname\":\"Control\",\"chardesc\":\"\xe5\x90\x88\xe9\x97\xb8 \\\"12\\\"\","
      "\"occurtime\":\"1709629622\"}]\r\n";
  EXPECT_EQ(publish("[{\"classname\":\"controller\"}]"), 1);
  EXPECT_EQ(publish("[{\"classname\":\"CONTROL\"}]"), 1);
  EXPECT_EQ(publish("Contro l"), 1);
  EXPECT_EQ(publish(control), 1);
  // A text ends at its first NUL byte.
  EXPECT_EQ(publish(std::string("no marker\0Control after the NUL", 31)), 1);
  EXPECT_EQ(publish(std::string("Control\0tail", 12)), 1);
  EXPECT_EQ(publish("trailing Control"), 1);
  ASSERT_TRUE(waitForQueued(3));

  // Of each three-text delivery only the payload is queued: the kind and the
  // channel name never are.
  EXPECT_EQ(queuedTexts(), (std::deque<std::string>{control, "Control", "trailing Control"}));
  EXPECT_EQ(notSubscribed_.load(), 0);
  EXPECT_EQ(endedAfterReading_.load(), 0);

  // After RunFlag drops, the next delivery ends the read after its first element:
  // its payload is not queued.
  stopReader();
  EXPECT_EQ(queuedTexts().size(), 3u);
  EXPECT_EQ(endedAfterReading_.load(), 1);
}

TEST_F(SubscriberTest, NumericElementOfLaterConfirmationDoesNotStopReading) {
  // With two channels the second confirmation, [subscribe, auditTopic, 2], arrives
  // in the read loop and carries a number.
  startReader({kOperationLogChannel, "auditTopic"});
  ASSERT_TRUE(waitForSubscribers());
  ASSERT_TRUE(waitUntil([&] { return publish("ping", "auditTopic") == 1; }, 5000));

  EXPECT_EQ(publish("audit Control", "auditTopic"), 1);
  EXPECT_EQ(publish("log Control"), 1);
  ASSERT_TRUE(waitForQueued(2));

  EXPECT_EQ(queuedTexts(), (std::deque<std::string>{"audit Control", "log Control"}));
  EXPECT_EQ(endedAfterReading_.load(), 0);
}

TEST_F(SubscriberTest, ReadTimeOutLeadsToNewSubscription) {
  writeSettings(1);
  startReader();
  ASSERT_TRUE(waitForSubscribers());

  const std::vector<std::string> first = subscribedClients();
  ASSERT_EQ(first.size(), 1u);

  // A second without traffic ends the read; the timed-out connection stays open
  // (and counted as subscribed by the server) until the reader, after its pause,
  // replaces it with a new one and subscribes again.
  ASSERT_TRUE(waitUntil([&] { return endedAfterReading_.load() >= 1; }, 5000));
  EXPECT_EQ(pendingSize(), 0u);
  ASSERT_TRUE(waitUntil([&] {
    std::vector<std::string> now = subscribedClients();
    return now.size() == 1 && now != first;
  }, 5000));
  // Each subscription now lasts a second; publish until one lands in it.
  ASSERT_TRUE(waitUntil([&] {
    publish("after time-out Control");
    return pendingSize() > 0;
  }, 10000, 200));

  for (const std::string& t : queuedTexts()) EXPECT_EQ(t, "after time-out Control");
  EXPECT_EQ(notSubscribed_.load(), 0);
}

TEST_F(SubscriberTest, DeliveryResumesAfterServerRestart) {
  startReader();
  ASSERT_TRUE(waitForSubscribers());
  EXPECT_EQ(publish("before Control"), 1);
  ASSERT_TRUE(waitForQueued(1));

  server_.stop(9);
  ASSERT_TRUE(waitUntil([&] { return endedAfterReading_.load() >= 1; }, 5000));
  // While the server is down every attempt fails to subscribe.
  ASSERT_TRUE(waitUntil([&] { return notSubscribed_.load() >= 1; }, 5000));
  ASSERT_TRUE(server_.restart());
  ASSERT_TRUE(waitForSubscribers());
  EXPECT_EQ(publish("after Control"), 1);
  ASSERT_TRUE(waitForQueued(2));

  EXPECT_EQ(queuedTexts(), (std::deque<std::string>{"before Control", "after Control"}));
}

TEST_F(SubscriberTest, InactiveInstanceSubscribesReadsNothingAndReleases) {
  RunFlag.store(0);
  RedisClient redisOpt;
  redisOpt.connect(1);
  ASSERT_TRUE(redisUsable(redisOpt.readConn));

  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(redisOpt.subscribeAndReceive({kOperationLogChannel}, receivedTexts()), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));

  EXPECT_EQ(redisOpt.readConn, nullptr);
  EXPECT_NE(server_.cli({"INFO", "commandstats"}).find("cmdstat_subscribe:calls=1,"),
            std::string::npos);
  EXPECT_TRUE(waitForSubscribers(0));
  EXPECT_EQ(pendingSize(), 0u);
}

TEST_F(SubscriberTest, SubscriptionNotMadeGivesMinusOne) {
  RedisClient redisOpt;
  EXPECT_EQ(redisOpt.subscribeAndReceive({}, receivedTexts()), -1);
  EXPECT_EQ(redisOpt.readConn, nullptr);  // an empty list sends nothing, connects nothing

  server_.stop(9);
  EXPECT_EQ(redisOpt.subscribeAndReceive({kOperationLogChannel}, receivedTexts()), -1);
  EXPECT_EQ(redisOpt.readConn, nullptr);

  // The next call connects again by itself once the server is back.
  ASSERT_TRUE(server_.restart());
  RunFlag.store(0);
  EXPECT_EQ(redisOpt.subscribeAndReceive({kOperationLogChannel}, receivedTexts()), 0);
  EXPECT_NE(server_.cli({"INFO", "commandstats"}).find("cmdstat_subscribe:calls=1,"),
            std::string::npos);
}

// Replies a real server does not send on a subscribed connection (nil, nested
// arrays, an error in place of a delivery) are built by hand here.
class QueueControlTextsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clearQueue();
    RunFlag.store(1);
  }
  void TearDown() override {
    RunFlag.store(0);
    clearQueue();
  }

  static redisReply text(const char* s, int type = REDIS_REPLY_STRING) {
    redisReply r{};
    r.type = type;
    r.str = const_cast<char*>(s);
    r.len = std::strlen(s);
    return r;
  }
  static redisReply array(redisReply** elements, std::size_t n) {
    redisReply r{};
    r.type = REDIS_REPLY_ARRAY;
    r.element = elements;
    r.elements = n;
    return r;
  }
};

TEST_F(QueueControlTextsTest, OnlyTopLevelTextsAreLookedAt) {
  redisReply nested0 = text("nested Control");
  redisReply* nestedElements[] = {&nested0};
  redisReply nested = array(nestedElements, 1);
  redisReply nil{};
  nil.type = REDIS_REPLY_NIL;
  redisReply number{};
  number.type = REDIS_REPLY_INTEGER;
  number.integer = 7;
  redisReply error = text("ERR Control", REDIS_REPLY_ERROR);
  redisReply status = text("status Control", REDIS_REPLY_STATUS);
  redisReply payload = text("payload Control");
  redisReply* elements[] = {&nil, &nested, &number, &error, nullptr, &status, &payload};
  redisReply reply = array(elements, 7);

  EXPECT_EQ(queueControlTexts(&reply, receivedTexts()), 2u);
  EXPECT_EQ(queuedTexts(), (std::deque<std::string>{"status Control", "payload Control"}));

  // A reply that is not an array queues nothing, even when its text would match.
  redisReply errorReply = text("ERR Control");
  errorReply.type = REDIS_REPLY_ERROR;
  EXPECT_EQ(queueControlTexts(&errorReply, receivedTexts()), 0u);
  redisReply plain = text("Control");
  EXPECT_EQ(queueControlTexts(&plain, receivedTexts()), 0u);
  EXPECT_EQ(queueControlTexts(nullptr, receivedTexts()), 0u);
  EXPECT_EQ(pendingSize(), 2u);
}

TEST_F(QueueControlTextsTest, RunFlagZeroEndsTheWalkAfterTheCurrentElement) {
  redisReply first = text("first Control");
  redisReply second = text("second Control");
  redisReply* elements[] = {&first, &second};
  redisReply reply = array(elements, 2);

  RunFlag.store(0);
  EXPECT_EQ(queueControlTexts(&reply, receivedTexts()), 1u);
  EXPECT_EQ(queuedTexts(), (std::deque<std::string>{"first Control"}));
}

}  // namespace

namespace {

// Keep-alive probes on an idle subscription are answered by the server's kernel:
// with no command time-out, a minute without traffic must not end the subscription.
TEST_F(SubscriberTest, IdleSubscriptionWithKeepAliveStillReceivesAfterAMinute) {
  writeSettings(0);
  startReader();
  ASSERT_TRUE(waitForSubscribers());
  const std::vector<std::string> before = subscribedClients();
  std::this_thread::sleep_for(std::chrono::seconds(60));
  ASSERT_EQ(1, publish("after a quiet minute Control"));
  ASSERT_TRUE(waitUntil([] { return pendingSize() == 1; }, 2000, 10));
  EXPECT_EQ("after a quiet minute Control", queuedTexts().front());
  EXPECT_EQ(before, subscribedClients());  // the same connection all along
  EXPECT_EQ(0, endedAfterReading_.load());
}

// Every connection carries the dead-peer settings, whichever way it was made.
TEST_F(SubscriberTest, EveryConnectionCarriesDeadPeerDetection) {
  writeSettings(0);
  RedisClient client;
  client.connect(3);
  ASSERT_TRUE(redisUsable(client.readConn));
  ASSERT_TRUE(redisUsable(client.writeConn));
  for (const RedisContextPtr* c : {&client.readConn, &client.writeConn}) {
    auto opt = [&](int level, int name) {
      int value = -1;
      socklen_t len = sizeof(value);
      getsockopt((*c)->fd, level, name, &value, &len);
      return value;
    };
    EXPECT_EQ(1, opt(SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(kKeepAliveIdleSec, opt(IPPROTO_TCP, TCP_KEEPIDLE));
    EXPECT_EQ(kKeepAliveIntervalSec, opt(IPPROTO_TCP, TCP_KEEPINTVL));
    EXPECT_EQ(kKeepAliveProbes, opt(IPPROTO_TCP, TCP_KEEPCNT));
    EXPECT_EQ(kTcpUserTimeoutMs, opt(IPPROTO_TCP, TCP_USER_TIMEOUT));
  }
}

}  // namespace
