// How the status subsystem reads each HttpOutcome the delivery hands back: the
// reply kind counted, what /health and the systemd status line say after it.
#include <string>

#include <gtest/gtest.h>

#include "status/status_view.h"

#include "config/timing.h"
#include "telemetry/metrics.h"

namespace {

class ReplyOutcomesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gMetrics.role.store(static_cast<int32_t>(ServiceRole::kOwner));
    gMetrics.subscribed.store(1);
  }

  // Posts once with `outcome`; returns the health body three seconds later.
  std::string postThenHealth(const HttpOutcome& outcome, int* httpStatus) {
    metricsPostStarted();
    metricsCountReply(outcome);
    const HealthAnswer answer = healthAnswer(0, gMetrics.lastPostTime.load() + 3);
    *httpStatus = answer.httpStatus;
    return answer.json;
  }

  uint64_t replies(ReplyKind kind) { return gMetrics.replies[static_cast<int>(kind)].load(); }
};

TEST_F(ReplyOutcomesTest, EachOutcomeCountsOnceAndDecidesHealth) {
  int status = 0;
  EXPECT_EQ(postThenHealth({HttpOutcomeKind::kReply, 503, ""}, &status),
            "{\"status\":\"failing\",\"role\":\"owner\",\"reason\":\"last reply 503 3 s ago\"}\n");
  EXPECT_EQ(status, 503);
  EXPECT_EQ(statusLine(gMetrics.lastPostTime.load() + 3), "owner: 1 document, last reply 503 3 s ago");
  EXPECT_EQ(gMetrics.lastSuccessTime.load(), 0);

  EXPECT_EQ(postThenHealth({HttpOutcomeKind::kReply, 204, ""}, &status),
            "{\"status\":\"ok\",\"role\":\"owner\"}\n");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(gMetrics.lastSuccessTime.load(), gMetrics.lastPostTime.load());

  postThenHealth({HttpOutcomeKind::kReply, 302, ""}, &status);
  EXPECT_EQ(status, 503);  // a redirect is not a delivery
  postThenHealth({HttpOutcomeKind::kReply, 404, ""}, &status);
  postThenHealth({HttpOutcomeKind::kTlsFailed, 0, "SSL certificate problem"}, &status);
  EXPECT_EQ(status, 503);
  postThenHealth({HttpOutcomeKind::kTimeout, 0, "Operation timed out"}, &status);
  postThenHealth({HttpOutcomeKind::kNoReply, 0, ""}, &status);
  EXPECT_EQ(healthAnswer(0, gMetrics.lastPostTime.load() + 3).json,
            "{\"status\":\"failing\",\"role\":\"owner\",\"reason\":\"last post: no reply 3 s ago\"}\n");
  // A failed post older than the health window no longer counts against the owner.
  EXPECT_EQ(healthAnswer(0, gMetrics.lastPostTime.load() + kHealthPostWindowSeconds + 1).httpStatus,
            200);

  EXPECT_EQ(replies(ReplyKind::k2xx), 1u);
  EXPECT_EQ(replies(ReplyKind::k4xx), 1u);
  EXPECT_EQ(replies(ReplyKind::k5xx), 1u);
  EXPECT_EQ(replies(ReplyKind::kOther), 1u);
  EXPECT_EQ(replies(ReplyKind::kConnectFailed), 1u);
  EXPECT_EQ(replies(ReplyKind::kNoReply), 2u);
  EXPECT_EQ(gMetrics.documentsPosted.load(), 7u);

  gMetrics.documentsPosted.store(12345);
  EXPECT_EQ(statusLine(gMetrics.lastPostTime.load() + 3),
            "owner: 12,345 documents, last post: no reply 3 s ago");
  gMetrics.subscribed.store(0);
  EXPECT_EQ(healthAnswer(0, gMetrics.lastPostTime.load() + 3).json,
            "{\"status\":\"failing\",\"role\":\"owner\",\"reason\":\"not subscribed to almTopic\"}\n");
}

}  // namespace
