// The whole road of one operation-log message through the real service binary: a
// private redis-server, an HTTP receiver in this process, and build/tarvex -self
// with a root whose cfg/ points at both.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/test_certs.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"
#include "tests/support/worked_example.h"

namespace {

constexpr int kSubscribeWaitMs = 15000;  // service start-up until it listens on almTopic
constexpr int kDeliveryWaitMs = 20000;   // publish until the receiver has the document

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
                   "[evevtType]\neventtypenum=0\n" + kWorkedExampleDictionaries);
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
  ASSERT_TRUE(publishToService(kWorkedExampleMessage)) << diagnostics();
  ASSERT_TRUE(receiver_.waitForRequests(1, kDeliveryWaitMs)) << diagnostics();

  const HttpTestServer::Request request = receiver_.requests().at(0);
  EXPECT_TRUE(request.complete);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/api/operateLog");
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.body, kWorkedExampleDocument) << diagnostics();

  // The run log holds the description once, then the document and the reply.
  const std::string docLine = std::string("data:") + kWorkedExampleDocument + " --";
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

// tarvex.ini [Http] as the service reads it: an https receiver trusted through
// CaFile, an extra header line, and two documents over one kept connection.
TEST_F(EndToEndTest, HttpsReceiverGetsDocumentsWithTheOptionsOfTarvexIni) {
  TestCerts certs(root_.path() + "/tls");
  ASSERT_TRUE(certs.ok()) << certs.error();
  HttpTestServer receiver;
  ASSERT_TRUE(receiver.startTls({certs.file("server.pem"), certs.file("server.key"), ""}));
  receiver.setKeepAlive(100);
  root_.writeCfg("logsynset.ini",
                 "[tovraurl]\nurl=" + receiver.url("/api/operateLog") + "\n"
                 "[synLogFlag]\nFlag=1\n"
                 "[evevtType]\neventtypenum=0\n" + kWorkedExampleDictionaries);
  root_.writeCfg("tarvex.ini", "[Http]\nCaFile=" + certs.file("ca.pem") +
                                   "\nHeaderNum=1\nHeader0=Authorization: Bearer x\nKeepAlive=1\n");
  ASSERT_TRUE(service_.start({"-self"}, {{"TZ", "UTC"}}));
  for (std::size_t n = 1; n <= 2; ++n) {
    ASSERT_TRUE(publishToService(kWorkedExampleMessage)) << diagnostics();
    ASSERT_TRUE(receiver.waitForRequests(n, kDeliveryWaitMs)) << diagnostics();
    const HttpTestServer::Request request = receiver.requests().at(n - 1);
    EXPECT_EQ(request.body, kWorkedExampleDocument);
    const std::vector<std::string> lines = request.headerLines();
    const auto type = std::find(lines.begin(), lines.end(), "Content-Type:application/json");
    ASSERT_NE(type, lines.end());
    ASSERT_NE(type + 1, lines.end());
    EXPECT_EQ("Authorization: Bearer x", *(type + 1));
  }
  EXPECT_EQ(1u, receiver.connections());
  EXPECT_EQ(0u, receiver_.connections());
  service_.kill();
}

}  // namespace
