// The whole road of one operation-log message through the real service binary: a
// private redis-server, an HTTP receiver in this process, and build/tarvex -self
// with a root whose cfg/ points at both.
#include <string>

#include <gtest/gtest.h>

#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

constexpr int kSubscribeWaitMs = 15000;  // service start-up until it listens on almTopic
constexpr int kDeliveryWaitMs = 20000;   // publish until the receiver has the document

// One operation record: a control action on a power-supply breaker at station ST07.
const char kOperationLog[] =
    "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
    "\"devicekey\":\"DEV.0042\",\"appsysid\":\"3\",\"chardesc\":\"Breaker 12 closed\","
    "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]";

// What the receiving platform gets for it: members in byte order, compact, one
// trailing line feed; 1709629622 is 2024-03-05 09:07:02 UTC.
const char kExpectedDocument[] =
    "[{\"description\":\"Breaker 12 closed\",\"eventType\":\"122\","
    "\"guid\":\"1709629622:250:DEV.0042:Control\",\"lineId\":\"L2\",\"lineName\":\"Line 2\","
    "\"major\":\"Power supply\",\"operateTime\":\"2024-3-5 9:7:2\",\"operator\":\"\","
    "\"result\":\"\",\"roleName\":\"\",\"stationId\":\"S07\",\"stationName\":\"Station Seven\","
    "\"subSystem\":\"\",\"target\":\"\",\"userName\":\"op01\",\"userShortName\":\"\","
    "\"workstation\":\"WS05\"}]\n";

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare for a private host";
    ASSERT_TRUE(redis_.start());
    ASSERT_TRUE(receiver_.start());
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n"
                   "[Format]\nOvertimeSec=0\nOvertimeUsec=0\n"
                   "[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1\nMasterPort0=" +
                       std::to_string(redis_.port()) + "\n");
    root_.writeCfg("logsynset.ini",
                   "[tovraurl]\nurl=" + receiver_.url("/api/operateLog") + "\n"
                   "[synLogFlag]\nFlag=1\n"
                   "[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power supply\n"
                   "[stationInfo]\nstationnum=1\n"
                   "stationlindid0=L2\nstationlinddesc0=Line 2\n"
                   "stationid0=S07\nstationdesc0=Station Seven\nstationcode0=ST07\n"
                   "[evevtType]\neventtypenum=0\n");
  }

  // Waits until the service listens on almTopic, then publishes until the message
  // reaches it (PUBLISH counts one receiver).
  bool publishToService(const std::string& payload) {
    if (!waitUntil([&] { return redis_.cli({"PUBSUB", "NUMSUB", "almTopic"}) == "almTopic\n1"; },
                   kSubscribeWaitMs, 50)) {
      return false;
    }
    return waitUntil([&] { return redis_.cli({"PUBLISH", "almTopic", payload}) == "1"; },
                     kSubscribeWaitMs, 200);
  }

  std::string diagnostics() {
    return "service output:\n" + service_.output() + "\nrun log:\n" + readFile(root_.logPath());
  }

  RedisServerProcess redis_;
  HttpTestServer receiver_;
  TempRoot root_;
  TarvexInstance service_{root_.path(), "tarvex-e2e"};
};

TEST_F(EndToEndTest, PublishedControlRecordReachesReceiverAsPlatformDocument) {
  ASSERT_TRUE(service_.start({"-self"}, {{"TZ", "UTC"}}));
  ASSERT_TRUE(publishToService(kOperationLog)) << diagnostics();
  ASSERT_TRUE(receiver_.waitForRequests(1, kDeliveryWaitMs)) << diagnostics();

  const HttpTestServer::Request request = receiver_.requests().at(0);
  EXPECT_TRUE(request.complete);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/api/operateLog");
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.body, kExpectedDocument) << diagnostics();

  // The run log holds the description once, then the document and the reply.
  const std::string docLine = std::string("data:") + kExpectedDocument + " --";
  ASSERT_TRUE(waitUntil([&] {
    return readFile(root_.logPath()).find("data:ok --") != std::string::npos;
  }, 5000)) << diagnostics();
  const std::string log = readFile(root_.logPath());
  const std::size_t description = log.find("data:Breaker 12 closed --");
  ASSERT_NE(description, std::string::npos) << diagnostics();
  EXPECT_EQ(log.find("data:Breaker 12 closed --", description + 1), std::string::npos);
  EXPECT_LT(description, log.find(docLine)) << diagnostics();
  EXPECT_LT(log.find(docLine), log.find("data:ok --")) << diagnostics();

  // The service is still running and forwarding: it never ends by itself while it
  // holds the work.
  EXPECT_TRUE(service_.process().running()) << diagnostics();
  service_.kill();
}

}  // namespace
