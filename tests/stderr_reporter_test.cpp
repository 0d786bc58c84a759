// The rate-limited reasons on stderr: one line per kind per interval, the lines
// held back counted on the next line of that kind.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "telemetry/stderr_reporter.h"

namespace {

class ReasonLinesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(sink_, nullptr); }
  void TearDown() override { std::fclose(sink_); }

  std::string written() {
    std::fflush(sink_);
    std::rewind(sink_);
    std::string text;
    char buf[256];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), sink_)) > 0) text.append(buf, n);
    return text;
  }

  std::FILE* sink_ = std::tmpfile();
};

TEST_F(ReasonLinesTest, OneLinePerKindPerMinuteWithTheCountLeftOut) {
  StderrReporter reporter(sink_, 60000);
  EXPECT_TRUE(reporter.report("post:connect_failed", "post failed: refused", 1000));
  EXPECT_FALSE(reporter.report("post:connect_failed", "post failed: refused", 2000));
  EXPECT_FALSE(reporter.report("post:connect_failed", "post failed: refused", 60999));
  // Another kind is not held back by the first.
  EXPECT_TRUE(reporter.report("subscription", "subscription lost", 3000));
  EXPECT_TRUE(reporter.report("post:connect_failed", "post failed: refused", 61000));
  EXPECT_TRUE(reporter.report("post:connect_failed", "post failed: refused", 122000));
  EXPECT_EQ(written(),
            "tarvex: post failed: refused\n"
            "tarvex: subscription lost\n"
            "tarvex: post failed: refused (2 more like this left out)\n"
            "tarvex: post failed: refused\n");
}

}  // namespace
