#include "queue/pending_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "config/sync_config.h"
#include "delivery/http_delivery.h"
#include "durable/capture_progress.h"
#include "host/forwarding_loop.h"
#include "host/run_log.h"
#include "platform/clock.h"
#include "queue/memory_queue.h"
#include "tests/support/test_env.h"

namespace {

class PendingQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { clearQueue(); }
  void TearDown() override { clearQueue(); }
  static void clearQueue() { pendingClear(); }
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

TEST_F(PendingQueueTest, BytesAbove256MiBDropTheOldestAndTheRestComeOutInOrder) {
  constexpr std::size_t kMiB = 1024 * 1024;
  constexpr int kTexts = 300;
  const uint64_t trimmedBefore = pendingTrimmedTotal();
  std::string text(kMiB, 'x');
  for (int i = 0; i < kTexts; ++i) {
    const std::string tag = std::to_string(i) + ":";
    text.replace(0, tag.size(), tag);
    pendingAppend(text.data(), text.size());
  }
  const std::size_t kept = kQueueMaxBytes / (kMiB + kTextOverheadBytes);
  EXPECT_EQ(kept, pendingSize());
  EXPECT_LE(pendingBytes(), kQueueMaxBytes);
  EXPECT_EQ(kTexts - kept, pendingTrimmedTotal() - trimmedBefore);

  // The newest ones remain, and come out oldest first.
  std::vector<std::string> batch;
  uint64_t first = 0;
  std::size_t next = kTexts - kept;
  while (takeBatch(&batch, &first) > 0) {
    for (const std::string& t : batch) {
      ASSERT_EQ(0u, t.find(std::to_string(next++) + ":"));
    }
    pendingRemoveTaken(first, batch.size());
  }
  EXPECT_EQ(static_cast<std::size_t>(kTexts), next);
  EXPECT_EQ(0u, pendingBytes());

  // One text larger than the bound still waits, alone, to be forwarded.
  const std::string huge(kQueueMaxBytes + 1, 'h');
  pendingAppend("small", 5);
  pendingAppend(huge.data(), huge.size());
  ASSERT_EQ(1u, takeBatch(&batch));
  EXPECT_EQ(huge.size(), batch[0].size());
}

TEST_F(PendingQueueTest, BatchDroppedByTheByteBoundWhileInFlightLeavesNewerTextsAlone) {
  const std::string big(kQueueMaxBytes / 2, 'b');
  pendingAppend("first", 5);
  std::vector<std::string> batch;
  uint64_t first = 0;
  ASSERT_EQ(1u, takeBatch(&batch, &first));
  // While the batch is posted, two large texts push "first" out of the queue.
  pendingAppend(big.data(), big.size());
  pendingAppend(big.data(), big.size());
  pendingAppend("last", 4);
  pendingRemoveTaken(first, batch.size());
  EXPECT_EQ(2u, pendingSize());
  const std::vector<std::string> left = pendingCopyFront(2);
  EXPECT_EQ(big.size(), left[0].size());
  EXPECT_EQ("last", left[1]);
}

// An idle loop waits its full pause unless a whole batch is queued meanwhile; the
// pauses are stretched so that a slow machine cannot blur the two cases.
TEST_F(PendingQueueTest, IdleWaitEndsAtAFullBatchAndOnlyThen) {
  using Clock = std::chrono::steady_clock;
  MemoryQueue patient(60000);
  std::thread feeder([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fill(kMaxBatch);
  });
  Clock::time_point start = Clock::now();
  patient.idle();
  feeder.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));

  clearQueue();
  MemoryQueue shortPause(400);
  fill(kMaxBatch - 1);
  start = Clock::now();
  shortPause.idle();
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
}

// The capture thread gathers for up to 1,000 texts; the owner's reader waiting for
// the last two of its batch makes it go with what is queued, not at its time-out.
TEST_F(PendingQueueTest, ReaderWaitingOnCaptureEndsTheCaptureGatherOnceItsTextsAreQueued) {
  using Clock = std::chrono::steady_clock;
  fill(2);
  const Clock::time_point start = Clock::now();
  std::atomic<bool> gathered{false};
  std::thread capture([&] { gathered = pendingWaitForTexts(1000, 60000); });
  const uint64_t mark = captureProgress().total() + 2;
  const int64_t readAtMs = steadyMs() + 60000;
  // Each wait asks again: the gather may not have begun when one asks.
  while (!gathered && Clock::now() - start < std::chrono::seconds(30)) {
    captureProgress().waitFor(mark, 50, readAtMs);
  }
  capture.join();
  EXPECT_TRUE(gathered);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
}

class ForwardOnceTest : public PendingQueueTest {
 protected:
  TempRoot root_;
  HttpDelivery delivery_{TarvexOptions()};
  MemoryQueue queue_;
};

TEST_F(ForwardOnceTest, BatchIsRemovedEvenWhenNothingConverts) {
  SyncConfig config;  // empty dictionaries: nothing converts, nothing is posted
  RunLog runLog(config.logFlag);
  fill(150);
  EXPECT_EQ(forwardOnce(config, runLog, queue_, delivery_, "http://127.0.0.1:1/", kJsonHeaders), 100u);
  EXPECT_EQ(pendingSize(), 50u);
  EXPECT_EQ(forwardOnce(config, runLog, queue_, delivery_, "http://127.0.0.1:1/", kJsonHeaders), 50u);
  EXPECT_EQ(forwardOnce(config, runLog, queue_, delivery_, "http://127.0.0.1:1/", kJsonHeaders), 0u);
}

}  // namespace
