// The real service against Redis servers and Sentinels that demand credentials,
// given in cfg/tarvex.ini.
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "host/messages.h"
#include "redis/use_flag.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

constexpr int kWaitMs = 20000;  // bound of every wait for the service
constexpr int kPollMs = 100;
constexpr const char* kHost = "securehost";

std::string controlMessage(const std::string& key) {
  return "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
         "\"devicekey\":\"" + key + "\",\"appsysid\":\"3\",\"chardesc\":\"closed\","
         "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]";
}

class SecuredRedisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare -u -m";
    ASSERT_TRUE(receiver_.start());
    root_.writeCfg("logsynset.ini",
                   "[synLogFlag]\nFlag=1\n[tovraurl]\nurl=" + receiver_.url("/log") +
                       "\n[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
                       "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
                       "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n");
  }

  void writeMaster(int port) {
    root_.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\n"
                                 "MasterIp0=127.0.0.1\nMasterPort0=" + std::to_string(port) +
                                     "\n[Format]\nOvertimeSec=2\n");
  }

  bool delivered(const std::string& key) const {
    for (const HttpTestServer::Request& r : receiver_.requests()) {
      if (r.body.find(":" + key + ":Control") != std::string::npos) return true;
    }
    return false;
  }

  // Publishes numbered messages on `redis` until one of them has been delivered.
  bool deliverOne(const RedisServerProcess& redis, const std::string& prefix) {
    int sent = 0;
    return waitUntil([&] {
      for (int i = 1; i <= sent; ++i) {
        if (delivered(prefix + std::to_string(i))) return true;
      }
      redis.cli({"PUBLISH", "almTopic", controlMessage(prefix + std::to_string(++sent))});
      return false;
    }, kWaitMs, 300);
  }

  bool logged(const char* line) const {
    return readFile(root_.logPath()).find(line) != std::string::npos;
  }

  TempRoot root_;
  HttpTestServer receiver_;
  TarvexInstance service_{root_.path(), kHost};
};

TEST_F(SecuredRedisTest, PasswordAndRestrictedAclUserBothLetTheOwnerDeliver) {
  struct Case {
    std::vector<std::string> serverArgs;
    std::string options;
  };
  // The ACL user may run only what the service sends in master mode, the release
  // of the hash on a stop included.
  const Case cases[] = {
      {{"--requirepass", "pw with blanks %s"},
       "[RedisAuth]\nRedisPassword=pw with blanks %s\n[Service]\nStopHandoverSeconds=1\n"},
      {{"--user", "default", "off", "--user", "admin", "on", ">adminpw", "~*", "&*", "+@all",
        "--user", "tarvex", "on", ">tarvexpw", "~useflag:tarvex", "&almTopic", "+hmget",
        "+hmset", "+subscribe", "+eval", "+hget", "+del"},
       "[RedisAuth]\nRedisUser=tarvex\nRedisPassword=tarvexpw\n[Service]\nStopHandoverSeconds=1\n"},
  };
  for (const Case& c : cases) {
    RedisServerProcess redis;
    if (c.options.find("RedisUser") != std::string::npos) {
      redis.setClientAuth("admin", "adminpw");
    } else {
      redis.setClientAuth("", "pw with blanks %s");
    }
    ASSERT_TRUE(redis.start(c.serverArgs));
    writeMaster(redis.port());
    root_.writeCfg("tarvex.ini", c.options);
    TarvexInstance service(root_.path(), kHost);
    ASSERT_TRUE(service.start());
    EXPECT_TRUE(waitUntil([&] { return redis.cli({"HGET", kUseFlagKey, "host"}) == kHost; },
                          kWaitMs, kPollMs)) << c.options;
    EXPECT_TRUE(deliverOne(redis, "A")) << c.options << service.output();
    EXPECT_TRUE(service.process().running());
    EXPECT_EQ(std::string::npos, service.output().find("refused")) << c.options;
    service.process().stop(SIGTERM);
    EXPECT_EQ("0", redis.cli({"EXISTS", kUseFlagKey})) << c.options << service.output();
  }
}

TEST_F(SecuredRedisTest, WrongPasswordEndsTheStartAndNamesTheAddressNotThePassword) {
  RedisServerProcess redis;
  redis.setClientAuth("", "right-one");
  ASSERT_TRUE(redis.start({"--requirepass", "right-one"}));
  writeMaster(redis.port());
  root_.writeCfg("tarvex.ini", "[RedisAuth]\nRedisPassword=Wrong-Secret-42\n");
  ASSERT_TRUE(service_.start());
  int status = -1;
  ASSERT_TRUE(service_.waitExit(kWaitMs, &status));
  EXPECT_EQ(0, status);
  EXPECT_TRUE(logged(kRedisErrorLine));
  const std::string err = service_.output();
  EXPECT_NE(std::string::npos,
            err.find("redis 127.0.0.1:" + std::to_string(redis.port()) + " refused AUTH: WRONGPASS"))
      << err;
  EXPECT_EQ(std::string::npos, err.find("Wrong-Secret-42")) << err;
  EXPECT_EQ(std::string::npos, readFile(root_.logPath()).find("Wrong-Secret-42"));
  EXPECT_EQ("", redis.cli({"HGET", kUseFlagKey, "host"}));
}

TEST_F(SecuredRedisTest, SentinelsAndDataNodesWithTheirOwnPasswordsSurviveAFailover) {
  const std::string dataPw = "data-pw";
  RedisServerProcess master, replica, sentinel;
  for (RedisServerProcess* r : {&master, &replica}) r->setClientAuth("", dataPw);
  sentinel.setClientAuth("", "sentinel-pw");
  ASSERT_TRUE(master.start({"--requirepass", dataPw, "--masterauth", dataPw,
                            "--repl-diskless-sync-delay", "0"}));
  ASSERT_TRUE(replica.start({"--requirepass", dataPw, "--masterauth", dataPw, "--replicaof",
                             "127.0.0.1", std::to_string(master.port())}));
  ASSERT_TRUE(waitUntil([&] {
    return master.cli({"INFO", "replication"}).find("state=online") != std::string::npos;
  }, kWaitMs, kPollMs));
  ASSERT_TRUE(sentinel.startSentinel("requirepass sentinel-pw\nsentinel monitor mymaster 127.0.0.1 " +
                                     std::to_string(master.port()) +
                                     " 1\nsentinel auth-pass mymaster " + dataPw +
                                     "\nsentinel down-after-milliseconds mymaster 1000\n"
                                     "sentinel failover-timeout mymaster 5000\n"));
  ASSERT_TRUE(waitUntil([&] {
    return sentinel.cli({"SENTINEL", "replicas", "mymaster"}).find("\nslave\n") !=
           std::string::npos;
  }, kWaitMs, kPollMs));
  root_.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=3\n[Format]\nOvertimeSec=1\n"
                               "[Sentinel]\nSentinelNum=1\nSentinelIp0=127.0.0.1\nSentinelPort0=" +
                                   std::to_string(sentinel.port()) + "\n");
  root_.writeCfg("tarvex.ini", "[RedisAuth]\nRedisPassword=" + dataPw +
                                   "\nSentinelPassword=sentinel-pw\n");
  // The hash already names this host, so the start does not race replication.
  master.cli({"HSET", kUseFlagKey, "host", kHost, "time", "1"});
  ASSERT_TRUE(waitUntil([&] { return replica.cli({"HGET", kUseFlagKey, "host"}) == kHost; },
                        kWaitMs, kPollMs));
  ASSERT_TRUE(service_.start());
  ASSERT_TRUE(deliverOne(master, "P")) << service_.output();

  ASSERT_EQ("OK", sentinel.cli({"SENTINEL", "FAILOVER", "mymaster"}));
  ASSERT_TRUE(waitUntil([&] {
    return sentinel.cli({"SENTINEL", "get-master-addr-by-name", "mymaster"}) ==
           "127.0.0.1\n" + std::to_string(replica.port());
  }, kWaitMs, kPollMs));
  EXPECT_TRUE(deliverOne(replica, "F")) << service_.output();
  EXPECT_TRUE(service_.process().running());
  EXPECT_EQ(std::string::npos, service_.output().find("refused")) << service_.output();
}

}  // namespace
