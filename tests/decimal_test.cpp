// The strict number reader and the texts it guards: a count on the command line and
// the status endpoint's port.
#include "platform/decimal.h"

#include <gtest/gtest.h>

#include <string>

#include "status/status_endpoint.h"

TEST(DecimalInRangeTest, OnlyDigitsWithinTheRangeAreTaken) {
  int32_t n = -7;
  EXPECT_TRUE(decimalInRange("100000", 1, 100000, &n));
  EXPECT_EQ(100000, n);
  EXPECT_TRUE(decimalInRange("007", 1, 100000, &n));
  EXPECT_EQ(7, n);
  EXPECT_TRUE(decimalInRange("2147483647", 0, INT32_MAX, &n));
  EXPECT_EQ(INT32_MAX, n);
  for (const char* bad : {"", "0", "100001", "+5", "-5", " 5", "5 ", "5x", "0x10",
                          "99999999999999999999", "2147483648"}) {
    n = -7;
    EXPECT_FALSE(decimalInRange(bad, 1, bad[0] == '2' ? INT32_MAX : 100000, &n)) << bad;
    EXPECT_EQ(-7, n) << bad;
  }
}

TEST(DecimalInRangeTest, StatusListenPortIsOneTo65535WithoutLeadingZero) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(splitListenAddress("[::1]:65535", &host, &port));
  EXPECT_EQ("::1", host);
  EXPECT_EQ(65535, port);
  for (const char* bad : {"h:0", "h:080", "h:65536", "h:+80", "h:8 0", "h:", ":80", "h:123456"}) {
    EXPECT_FALSE(splitListenAddress(bad, &host, &port)) << bad;
  }
}
