#include <hiredis/hiredis.h>

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
    writeSettings(redis_.port());
  }

  void writeSettings(int port) {
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\n"
                   "MasterIp0=127.0.0.1\nMasterPort0=" + std::to_string(port) +
                   "\n[Format]\nOvertimeSec=2\nOvertimeUsec=0\n");
  }

  std::string hget(const std::string& field) {
    return redis_.cli({"HGET", kUseFlagKey, field});
  }

  TempRoot root_;
  RedisServerProcess redis_;
};

// A host buffer with guard bytes on both sides, to catch any write outside it.
struct GuardedHost {
  char before[16];
  char host[kUseFlagHostSize];
  char after[16];
  GuardedHost() {
    std::memset(before, 0x5A, sizeof(before));
    std::memset(host, 0x5A, sizeof(host));
    std::memset(after, 0x5A, sizeof(after));
  }
  bool guardsIntact() const {
    for (char c : before) if (c != 0x5A) return false;
    for (char c : after) if (c != 0x5A) return false;
    return true;
  }
};

TEST_F(UseFlagTest, MissingHashOrFieldReadsAsNoOwner) {
  RedisClient client;
  char host[kUseFlagHostSize] = {};
  int32_t time = 0;
  EXPECT_EQ(0, client.readUseFlag(host, time));

  redis_.cli({"HSET", kUseFlagKey, "host", "hostB"});
  EXPECT_EQ(0, client.readUseFlag(host, time));

  redis_.cli({"DEL", kUseFlagKey});
  redis_.cli({"HSET", kUseFlagKey, "time", "1700000000"});
  EXPECT_EQ(0, client.readUseFlag(host, time));
}

TEST_F(UseFlagTest, ForeignOwnerIsReadWithItsTime) {
  redis_.cli({"HSET", kUseFlagKey, "host", "hostB", "time", "1700000123"});
  RedisClient client;
  char host[kUseFlagHostSize];
  std::memset(host, 'x', sizeof(host));
  int32_t time = 0;
  ASSERT_EQ(1, client.readUseFlag(host, time));
  EXPECT_STREQ("hostB", host);
  EXPECT_EQ(1700000123, time);
  // The rest of the buffer is cleared, so buffers compare byte-wise.
  char expected[kUseFlagHostSize] = "hostB";
  EXPECT_TRUE(sameUseFlagHost(expected, host));
}

TEST_F(UseFlagTest, TimeTextIsReadLikeLeadingDigits) {
  RedisClient client;
  char host[kUseFlagHostSize] = {};
  int32_t time = 7;
  const std::pair<const char*, int32_t> cases[] = {
      {"abc", 0}, {"", 0}, {"  42xyz", 42}, {"-15", -15}, {"4294967297", 1}};
  for (const auto& c : cases) {
    redis_.cli({"HSET", kUseFlagKey, "host", "hostB", "time", c.first});
    ASSERT_EQ(1, client.readUseFlag(host, time)) << c.first;
    EXPECT_EQ(c.second, time) << '"' << c.first << '"';
  }
}

TEST_F(UseFlagTest, LongHostIsCutTo127BytesWithoutOverflow) {
  const std::string longName(300, 'h');
  redis_.cli({"HSET", kUseFlagKey, "host", longName, "time", "5"});
  RedisClient client;
  GuardedHost g;
  int32_t time = 0;
  ASSERT_EQ(1, client.readUseFlag(g.host, time));
  EXPECT_EQ(std::string(127, 'h'), std::string(g.host));
  EXPECT_EQ('\0', g.host[127]);
  EXPECT_TRUE(g.guardsIntact());
}

TEST_F(UseFlagTest, HostWithBlankAndPercentRoundTripsExactly) {
  RedisClient client;
  const char* name = "host one %s %d %%";
  ASSERT_EQ(1, client.writeUseFlag(name, 1234));
  EXPECT_EQ(name, hget("host"));
  EXPECT_EQ("1234", hget("time"));
  EXPECT_EQ("2", redis_.cli({"HLEN", kUseFlagKey}));

  char host[kUseFlagHostSize] = {};
  int32_t time = 0;
  ASSERT_EQ(1, client.readUseFlag(host, time));
  EXPECT_STREQ(name, host);
  EXPECT_EQ(1234, time);

  ASSERT_EQ(1, client.writeUseFlag("", -7));
  EXPECT_EQ("", hget("host"));
  EXPECT_EQ("-7", hget("time"));
}

TEST_F(UseFlagTest, HostWithEmbeddedNulNeverEqualsTheNameBeforeIt) {
  redisContext* c = redisConnect("127.0.0.1", redis_.port());
  ASSERT_TRUE(c != nullptr && c->err == 0);
  const char* argv[] = {"HSET", kUseFlagKey, "host", "hostA\0tail", "time", "9"};
  const size_t len[] = {4, std::strlen(kUseFlagKey), 4, 10, 4, 1};
  freeReplyObject(redisCommandArgv(c, 6, argv, len));
  redisFree(c);

  RedisClient client;
  char host[kUseFlagHostSize] = {};
  int32_t time = 0;
  ASSERT_EQ(1, client.readUseFlag(host, time));
  char mine[kUseFlagHostSize] = "hostA";
  EXPECT_FALSE(sameUseFlagHost(mine, host));
}

TEST_F(UseFlagTest, BrokenConnectionIsReconnectedAndRetriedOnce) {
  redis_.cli({"HSET", kUseFlagKey, "host", "hostB", "time", "11"});
  RedisClient client;
  char host[kUseFlagHostSize] = {};
  int32_t time = 0;
  ASSERT_EQ(1, client.readUseFlag(host, time));
  ASSERT_EQ(1, client.writeUseFlag("hostC", 12));

  // The server drops both connections; each command notices on its own send.
  redis_.cli({"CLIENT", "KILL", "TYPE", "normal", "SKIPME", "yes"});
  EXPECT_EQ(1, client.readUseFlag(host, time));
  EXPECT_STREQ("hostC", host);
  EXPECT_EQ(1, client.writeUseFlag("hostD", 13));
  EXPECT_EQ("hostD", hget("host"));
}

TEST_F(UseFlagTest, ErrorReplyOrNoServerGivesMinusOne) {
  redis_.cli({"SET", kUseFlagKey, "not a hash"});
  RedisClient client;
  char host[kUseFlagHostSize] = "unchanged";
  int32_t time = 3;
  EXPECT_EQ(-1, client.readUseFlag(host, time));
  EXPECT_EQ(-1, client.writeUseFlag("hostA", 1));
  EXPECT_STREQ("unchanged", host);
  EXPECT_EQ(3, time);

  redis_.stop();
  EXPECT_EQ(-1, client.readUseFlag(host, time));
  EXPECT_EQ(-1, client.writeUseFlag("hostA", 1));
}

TEST(UseFlagReplyTest, OnlyAPairOfTextsIsAnOwner) {
  char host[kUseFlagHostSize] = {};
  int32_t time = 0;
  EXPECT_EQ(-1, interpretUseFlagReply(nullptr, host, time));

  char hostText[] = "hostB";
  char timeText[] = "77";
  redisReply hostItem{};
  hostItem.type = REDIS_REPLY_STRING;
  hostItem.str = hostText;
  hostItem.len = 5;
  redisReply timeItem{};
  timeItem.type = REDIS_REPLY_STRING;
  timeItem.str = timeText;
  timeItem.len = 2;
  redisReply nilItem{};
  nilItem.type = REDIS_REPLY_NIL;
  redisReply* items[] = {&hostItem, &timeItem, &nilItem};

  redisReply array{};
  array.type = REDIS_REPLY_ARRAY;
  array.element = items;
  array.elements = 3;
  EXPECT_EQ(-1, interpretUseFlagReply(&array, host, time));
  array.elements = 1;
  EXPECT_EQ(-1, interpretUseFlagReply(&array, host, time));

  // Two elements but not an array: the elements are not to be trusted.
  redisReply status{};
  status.type = REDIS_REPLY_STATUS;
  status.element = items;
  status.elements = 2;
  EXPECT_EQ(-1, interpretUseFlagReply(&status, host, time));

  redisReply* withNil[] = {&hostItem, &nilItem};
  array.element = withNil;
  array.elements = 2;
  EXPECT_EQ(0, interpretUseFlagReply(&array, host, time));

  // The time text is read only up to its stated length.
  array.element = items;
  timeItem.len = 1;
  ASSERT_EQ(1, interpretUseFlagReply(&array, host, time));
  EXPECT_STREQ("hostB", host);
  EXPECT_EQ(7, time);
}

}  // namespace
