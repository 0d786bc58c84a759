#include "host/pending_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "config/sync_config.h"
#include "host/forwarding_loop.h"
#include "tests/support/test_env.h"

namespace {

class PendingQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { clearQueue(); }
  void TearDown() override { clearQueue(); }
  static void clearQueue() {
    std::lock_guard<std::mutex> lock(PendingQueueMutex);
    PendingQueue.clear();
  }
  static void fill(int n) {
    for (int i = 0; i < n; ++i) {
      std::string t = "m" + std::to_string(i);
      pendingAppend(t.data(), t.size());
    }
  }
};

TEST_F(PendingQueueTest, TenThousandTextsAreNotTrimmed) {
  fill(10000);
  std::vector<std::string> batch;
  EXPECT_EQ(takeBatch(&batch), 100u);
  EXPECT_EQ(batch.front(), "m0");
  EXPECT_EQ(batch.back(), "m99");
  EXPECT_EQ(pendingSize(), 10000u);  // copying leaves the queue as it was
}

TEST_F(PendingQueueTest, TenThousandAndOneTrimsToNewestEightThousand) {
  fill(10001);
  std::vector<std::string> batch;
  EXPECT_EQ(takeBatch(&batch), 100u);
  EXPECT_EQ(pendingSize(), 8000u);
  EXPECT_EQ(batch.front(), "m2001");
  EXPECT_EQ(batch.back(), "m2100");
}

TEST_F(PendingQueueTest, SmallQueueGivesOneBatchOfAll) {
  fill(37);
  std::vector<std::string> batch;
  EXPECT_EQ(takeBatch(&batch), 37u);
  EXPECT_EQ(batch.back(), "m36");
  pendingDropOldest(37);
  EXPECT_EQ(takeBatch(&batch), 0u);
  EXPECT_TRUE(batch.empty());
}

TEST_F(PendingQueueTest, TextsKeepTheirBytes) {
  const std::string text("a\0b\xFF", 4);
  pendingAppend(text.data(), text.size());
  std::vector<std::string> batch;
  ASSERT_EQ(takeBatch(&batch), 1u);
  EXPECT_EQ(batch[0], text);
}

TEST_F(PendingQueueTest, AppendsDuringDrainingAreNeitherLostNorDuplicated) {
  // Fewer texts than the trim limit, so every one must come out exactly once, in
  // order, however the producer and the drain interleave.
  constexpr int kTexts = 9000;
  std::thread producer([] {
    for (int i = 0; i < kTexts; ++i) {
      std::string t = std::to_string(i);
      pendingAppend(t.data(), t.size());
    }
  });
  std::vector<std::string> seen;
  std::vector<std::string> batch;
  waitUntil([&] {
    while (takeBatch(&batch) > 0) {
      pendingDropOldest(batch.size());
      seen.insert(seen.end(), batch.begin(), batch.end());
    }
    return seen.size() >= static_cast<std::size_t>(kTexts);
  }, 20000, 1);
  producer.join();
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kTexts));
  for (int i = 0; i < kTexts; ++i) ASSERT_EQ(seen[i], std::to_string(i));
}

class ForwardOnceTest : public PendingQueueTest {
 protected:
  TempRoot root_;
  HttpDelivery delivery_{TarvexOptions()};
};

TEST_F(ForwardOnceTest, BatchIsRemovedEvenWhenNothingConverts) {
  SyncConfig config;  // empty dictionaries: nothing converts, nothing is posted
  fill(150);
  EXPECT_EQ(forwardOnce(config, delivery_, "http://127.0.0.1:1/", kJsonHeaders), 100u);
  EXPECT_EQ(pendingSize(), 50u);
  EXPECT_EQ(forwardOnce(config, delivery_, "http://127.0.0.1:1/", kJsonHeaders), 50u);
  EXPECT_EQ(forwardOnce(config, delivery_, "http://127.0.0.1:1/", kJsonHeaders), 0u);
}

}  // namespace
