// The forwarding loop's retry and settle rules against a scripted receiver and a
// scripted queue: no socket, no Redis, no pauses. Each case is one receiver
// behaviour and what the loop must post, settle and set aside because of it.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/sync_config.h"
#include "delivery/document_poster.h"
#include "gtest/gtest.h"
#include "host/forwarding_loop.h"
#include "host/run_flag.h"
#include "host/run_log.h"
#include "queue/forward_queue.h"
#include "tests/support/test_env.h"

namespace {

std::string message(int key) {
  return "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
         "\"devicekey\":\"k" + std::to_string(key) + "\",\"appsysid\":\"3\",\"chardesc\":\"x\","
         "\"userattr[0]\":\"op\",\"userattr[1]\":\"ws\",\"groupname\":\"ST07\"}]";
}

bool holdsKey(const std::string& body, int key) {
  return body.find(":k" + std::to_string(key) + ":") != std::string::npos;
}

HttpOutcome replyOf(long status) {
  HttpOutcome outcome;
  outcome.kind = HttpOutcomeKind::kReply;
  outcome.status = status;
  return outcome;
}

// A receiver whose answer to each document is decided by `judge`; records what it got.
class ScriptedReceiver : public DocumentPoster {
 public:
  explicit ScriptedReceiver(std::function<long(const std::string& body, int call)> judge)
      : judge_(std::move(judge)) {}
  int post(const std::string&, const std::string&, const std::string& body, std::string& reply,
           HttpOutcome* outcome) override {
    bodies.push_back(body);
    const long status = judge_(body, static_cast<int>(bodies.size()));
    reply = "answer " + std::to_string(status);
    if (outcome != nullptr) *outcome = replyOf(status);
    // Later accepts must come after earlier failures on the loop's millisecond clock.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return 1;
  }
  std::vector<std::string> bodies;

 private:
  std::function<long(const std::string&, int)> judge_;
};

// A queue holding one batch; settles and set-asides are recorded, pauses are zero.
class ScriptedQueue : public ForwardQueue {
 public:
  ScriptedQueue(int texts, bool keepsFailed) : keepsFailed_(keepsFailed) {
    for (int i = 0; i < texts; ++i) batch_.push_back(message(i));
    settledTimes.assign(batch_.size(), 0);
  }
  std::size_t take(std::vector<std::string>* batch) override {
    if (taken_) return 0;
    taken_ = true;
    *batch = batch_;
    return batch_.size();
  }
  bool keepsFailed() const override { return keepsFailed_; }
  void settle(std::size_t first, std::size_t count) override {
    for (std::size_t i = first; i < first + count; ++i) ++settledTimes[i];
  }
  bool setAside(std::size_t index, const std::string&, long status,
                const std::string& reply) override {
    if (setAsideFailures > 0) {
      --setAsideFailures;
      return false;
    }
    asides.push_back(std::to_string(index) + " " + std::to_string(status) + " " + reply);
    return true;
  }
  int retryPauseMs(int) const override { return 0; }
  int retryMaxMs() const override { return 0; }
  void idle() override {}

  std::vector<int> settledTimes;    // per text: how often it was settled
  std::vector<std::string> asides;  // "index status reply"
  int setAsideFailures = 0;         // set-aside writes to refuse first

 private:
  bool keepsFailed_;
  bool taken_ = false;
  std::vector<std::string> batch_;
};

class ForwardingRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_.writeCfg("logsynset.ini",
                   "[synLogFlag]\nFlag=0\n[tovraurl]\nurl=http://127.0.0.1:1/log\n"
                   "[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
                   "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
                   "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n");
    config_.reset(new SyncConfig());
    runLog_.reset(new RunLog(config_->logFlag));
    RunFlag.store(1);
  }
  void TearDown() override { RunFlag.store(0); }

  std::size_t forward(ScriptedQueue& queue, ScriptedReceiver& receiver) {
    return forwardOnce(*config_, *runLog_, queue, receiver, config_->url, kJsonHeaders);
  }

  TempRoot root_;
  std::unique_ptr<SyncConfig> config_;
  std::unique_ptr<RunLog> runLog_;
};

TEST_F(ForwardingRulesTest, InMemoryBatchIsPostedOnceWhateverTheAnswer) {
  ScriptedQueue queue(10, false);
  ScriptedReceiver receiver([](const std::string&, int) { return 500L; });
  EXPECT_EQ(forward(queue, receiver), 10u);
  EXPECT_EQ(receiver.bodies.size(), 1u);
  EXPECT_EQ(queue.settledTimes, std::vector<int>(10, 0));
  EXPECT_TRUE(queue.asides.empty());
}

TEST_F(ForwardingRulesTest, RejectedTextIsIsolatedByHalvesAndSetAsideAlone) {
  ScriptedQueue queue(10, true);
  ScriptedReceiver receiver([](const std::string& body, int) { return holdsKey(body, 3) ? 400L : 200L; });
  forward(queue, receiver);
  EXPECT_EQ(queue.asides, std::vector<std::string>{"3 400 answer 400"});
  EXPECT_EQ(queue.settledTimes, std::vector<int>(10, 1));
  // Every other text reached the receiver in an accepted document, in order.
  std::vector<int> delivered;
  for (const std::string& body : receiver.bodies) {
    if (holdsKey(body, 3)) continue;
    for (int k = 0; k < 10; ++k) {
      if (holdsKey(body, k)) delivered.push_back(k);
    }
  }
  EXPECT_EQ(delivered, (std::vector<int>{0, 1, 2, 4, 5, 6, 7, 8, 9}));
}

TEST_F(ForwardingRulesTest, CredentialFailuresAndOutagesAreRetriedNeverSetAside) {
  for (long failing : {401L, 407L, 500L, 503L}) {
    ScriptedQueue queue(3, true);
    ScriptedReceiver receiver([failing](const std::string&, int call) { return call <= 8 ? failing : 200L; });
    forward(queue, receiver);
    EXPECT_GE(receiver.bodies.size(), 9u) << failing;
    EXPECT_TRUE(queue.asides.empty()) << failing;
    if (failing == 401L || failing == 407L) {
      // Credentials are the sender's fault: the batch is never split over them.
      for (const std::string& body : receiver.bodies) {
        EXPECT_TRUE(holdsKey(body, 0) && holdsKey(body, 2)) << failing;
      }
    }
    EXPECT_EQ(queue.settledTimes, std::vector<int>(3, 1)) << failing;
  }
}

TEST_F(ForwardingRulesTest, PoisonTextGoesAsideOnlyAfterLaterDocumentsWereAccepted) {
  ScriptedQueue queue(2, true);
  ScriptedReceiver receiver([](const std::string& body, int) { return holdsKey(body, 1) ? 500L : 200L; });
  forward(queue, receiver);
  EXPECT_EQ(queue.asides, std::vector<std::string>{"1 500 answer 500"});
  EXPECT_EQ(queue.settledTimes, std::vector<int>(2, 1));
}

TEST_F(ForwardingRulesTest, FailedSetAsideIsRetriedAsAWriteNotAPost) {
  ScriptedQueue queue(1, true);
  queue.setAsideFailures = 2;
  ScriptedReceiver receiver([](const std::string&, int) { return 422L; });
  forward(queue, receiver);
  EXPECT_EQ(receiver.bodies.size(), 1u);
  EXPECT_EQ(queue.asides, std::vector<std::string>{"0 422 answer 422"});
  EXPECT_EQ(queue.settledTimes, std::vector<int>{1});
}

TEST_F(ForwardingRulesTest, LosingTheWorkDuringRetriesLeavesTheBatchUnsettled) {
  ScriptedQueue queue(4, true);
  ScriptedReceiver receiver([](const std::string&, int call) {
    if (call == 3) RunFlag.store(0);
    return 503L;
  });
  forward(queue, receiver);
  EXPECT_EQ(receiver.bodies.size(), 3u);
  EXPECT_EQ(queue.settledTimes, std::vector<int>(4, 0));
  EXPECT_TRUE(queue.asides.empty());
}

}  // namespace
