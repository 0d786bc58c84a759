#include <hiredis/hiredis.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "redis/redis_client.h"
#include "redis/use_flag.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/test_env.h"

namespace {

class UseFlagTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(redis_.start());
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\n"
                   "MasterIp0=127.0.0.1\nMasterPort0=" + std::to_string(redis_.port()) +
                   "\n[Format]\nOvertimeSec=2\nOvertimeUsec=0\n");
  }

  void hset(const std::string& host, const std::string& time) {
    redis_.cli({"DEL", kUseFlagKey});
    redis_.cli({"HSET", kUseFlagKey, "host", host, "time", time});
  }
  std::string hget(const std::string& field) { return redis_.cli({"HGET", kUseFlagKey, field}); }

  TempRoot root_;
  RedisServerProcess redis_;
  char host_[kUseFlagHostSize] = {};
  int32_t time_ = 0;
};

TEST_F(UseFlagTest, MissingHashOrFieldReadsAsNoOwner) {
  RedisClient client;
  EXPECT_EQ(0, client.readUseFlag(host_, time_));
  redis_.cli({"HSET", kUseFlagKey, "host", "hostB"});
  EXPECT_EQ(0, client.readUseFlag(host_, time_));
  redis_.cli({"DEL", kUseFlagKey});
  redis_.cli({"HSET", kUseFlagKey, "time", "1700000000"});
  EXPECT_EQ(0, client.readUseFlag(host_, time_));
}

TEST_F(UseFlagTest, ForeignOwnerIsReadWithItsTimeAsLeadingDigits) {
  RedisClient client;
  const std::pair<const char*, int32_t> cases[] = {{"1700000123", 1700000123}, {"abc", 0},
                                                   {"", 0}, {"  42xyz", 42}, {"-15", -15},
                                                   {"4294967297", INT32_MAX}};
  for (const auto& c : cases) {
    std::memset(host_, 'x', sizeof(host_));
    hset("hostB", c.first);
    ASSERT_EQ(1, client.readUseFlag(host_, time_)) << c.first;
    EXPECT_EQ(c.second, time_) << '"' << c.first << '"';
    // The rest of the buffer is cleared, so buffers compare byte-wise.
    char expected[kUseFlagHostSize] = "hostB";
    EXPECT_TRUE(sameUseFlagHost(expected, host_));
  }
}

TEST_F(UseFlagTest, LongHostIsCutTo127BytesWithoutOverflow) {
  hset(std::string(300, 'h'), "5");
  struct {
    char host[kUseFlagHostSize];
    char after[32];
  } guarded;
  std::memset(&guarded, 0x5A, sizeof(guarded));
  RedisClient client;
  ASSERT_EQ(1, client.readUseFlag(guarded.host, time_));
  EXPECT_EQ(std::string(127, 'h'), std::string(guarded.host));
  EXPECT_EQ(std::string(32, 0x5A), std::string(guarded.after, 32));
}

TEST_F(UseFlagTest, HostWithBlankAndPercentRoundTripsExactly) {
  RedisClient client;
  const char* name = "host one %s %d %%";
  ASSERT_EQ(1, client.writeUseFlag(name, 1234));
  EXPECT_EQ(name, hget("host"));
  EXPECT_EQ("1234", hget("time"));
  EXPECT_EQ("2", redis_.cli({"HLEN", kUseFlagKey}));
  ASSERT_EQ(1, client.readUseFlag(host_, time_));
  EXPECT_STREQ(name, host_);
  EXPECT_EQ(1234, time_);
}

TEST_F(UseFlagTest, HostWithEmbeddedNulNeverEqualsTheNameBeforeIt) {
  redisContext* c = redisConnect("127.0.0.1", redis_.port());
  ASSERT_TRUE(c != nullptr && c->err == 0);
  const char* argv[] = {"HSET", kUseFlagKey, "host", "hostA\0tail", "time", "9"};
  const size_t len[] = {4, std::strlen(kUseFlagKey), 4, 10, 4, 1};
  freeReplyObject(redisCommandArgv(c, 6, argv, len));
  redisFree(c);

  RedisClient client;
  ASSERT_EQ(1, client.readUseFlag(host_, time_));
  char mine[kUseFlagHostSize] = "hostA";
  EXPECT_FALSE(sameUseFlagHost(mine, host_));
}

TEST_F(UseFlagTest, BrokenConnectionIsReconnectedAndRetriedOnce) {
  hset("hostB", "11");
  RedisClient client;
  ASSERT_EQ(1, client.readUseFlag(host_, time_));
  ASSERT_EQ(1, client.writeUseFlag("hostC", 12));
  // The server drops both connections; each command notices on its own send.
  redis_.cli({"CLIENT", "KILL", "TYPE", "normal", "SKIPME", "yes"});
  EXPECT_EQ(1, client.readUseFlag(host_, time_));
  EXPECT_STREQ("hostC", host_);
  EXPECT_EQ(1, client.writeUseFlag("hostD", 13));
  EXPECT_EQ("hostD", hget("host"));
}

TEST_F(UseFlagTest, ErrorReplyOrNoServerGivesMinusOne) {
  redis_.cli({"SET", kUseFlagKey, "not a hash"});
  RedisClient client;
  std::strcpy(host_, "unchanged");
  time_ = 3;
  EXPECT_EQ(-1, client.readUseFlag(host_, time_));
  EXPECT_EQ(-1, client.writeUseFlag("hostA", 1));
  EXPECT_STREQ("unchanged", host_);
  EXPECT_EQ(3, time_);

  redis_.stop();
  EXPECT_EQ(-1, client.readUseFlag(host_, time_));
  EXPECT_EQ(-1, client.writeUseFlag("hostA", 1));
}

}  // namespace
