#include "delivery/http_post.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "config/timing.h"
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_certs.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

constexpr const char* kJsonHeader = "Content-Type:application/json\r\n";
constexpr const char* kBody = "[{\"guid\":\"1\"}]";

// "操作日志" in GBK followed by the same text in UTF-8.
const std::string kMixedBody =
    "[{\"desc\":\"\xB2\xD9\xD7\xF7\xC8\xD5\xD6\xBE|"
    "\xE6\x93\x8D\xE4\xBD\x9C\xE6\x97\xA5\xE5\xBF\x97\"}]";

class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class HttpPostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.start()); }

  // Posts kBody with the JSON header to `url` and returns the reply text.
  std::string post(const std::string& url, double* seconds = nullptr) {
    std::string reply;
    Stopwatch watch;
    EXPECT_EQ(1, httpPost(url, kJsonHeader, kBody, reply));
    if (seconds != nullptr) *seconds = watch.seconds();
    return reply;
  }

  HttpTestServer server_;
};

TEST_F(HttpPostTest, ReplyBodyIsHandedBackWhateverTheStatus) {
  const std::string binary("ok\0\xB3\xC9\xB9\xA6\r\nend", 12);
  server_.setReply(200, binary);
  EXPECT_EQ(binary, post(server_.url("/api")));

  server_.setReply(500, "{\"error\":\"internal\"}");
  EXPECT_EQ("{\"error\":\"internal\"}", post(server_.url("/api")));

  // A body ended by the close of the connection, without Content-Length.
  server_.setRawReply("HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\nmissing");
  EXPECT_EQ("missing", post(server_.url("/api")));
  EXPECT_EQ(3u, server_.requests().size());
}

TEST_F(HttpPostTest, EmptyReplyBodyEndsTheCallAtOnce) {
  for (int status : {204, 200}) {
    server_.setReply(status, "");
    double seconds = 0;
    EXPECT_EQ("", post(server_.url("/api"), &seconds)) << status;
    EXPECT_LT(seconds, 3.0) << status;
  }
  EXPECT_EQ(2u, server_.requests().size());
}

TEST_F(HttpPostTest, ConnectionClosedWithoutReplyEndsTheCallAtOnce) {
  for (auto mode : {HttpTestServer::Mode::kClose, HttpTestServer::Mode::kReset}) {
    server_.setMode(mode);
    double seconds = 0;
    EXPECT_EQ("", post(server_.url("/api"), &seconds));
    EXPECT_LT(seconds, 3.0);
  }
  EXPECT_EQ(2u, server_.requests().size());
}

TEST_F(HttpPostTest, SlowReplyWithinTheLimitIsWaitedFor) {
  server_.setMode(HttpTestServer::Mode::kSlowAnswer);
  server_.setDelayMs(1500);
  server_.setReply(200, "late");
  double seconds = 0;
  EXPECT_EQ("late", post(server_.url("/api"), &seconds));
  EXPECT_GE(seconds, 1.4);
}

TEST_F(HttpPostTest, SilentServerLeavesReplyEmptyAfterFifteenSeconds) {
  server_.setMode(HttpTestServer::Mode::kNeverAnswer);
  double seconds = 0;
  EXPECT_EQ("", post(server_.url("/api"), &seconds));
  EXPECT_GE(seconds, kHttpTimeoutMs / 1000.0 - 0.5);
  EXPECT_LT(seconds, kHttpTimeoutMs / 1000.0 + 2.0);
  EXPECT_EQ(1u, server_.requests().size());
}

TEST_F(HttpPostTest, RefusedConnectionGivesFailureTextWellBeforeTheLimit) {
  const int port = freeLoopbackPort();
  double seconds = 0;
  EXPECT_EQ(kConnectFailedText,
            post("http://127.0.0.1:" + std::to_string(port) + "/api", &seconds));
  EXPECT_EQ(std::string("restful connectfailed,getalldata failed"), kConnectFailedText);
  EXPECT_LT(seconds, 3.0);
}

TEST_F(HttpPostTest, RequestGoesOutAsGivenOnTheWire) {
  std::string reply;
  ASSERT_EQ(1, httpPost(server_.url("/tovra/log?src=tarvex"),
                        "Content-Type:application/json\r\nX-Batch: 7\r\n", kMixedBody, reply));
  ASSERT_TRUE(server_.waitForRequests(1, 1000));
  const HttpTestServer::Request req = server_.requests()[0];
  EXPECT_TRUE(req.complete);
  EXPECT_EQ("POST", req.method);
  EXPECT_EQ("/tovra/log?src=tarvex", req.path);
  EXPECT_EQ("HTTP/1.1", req.version);
  EXPECT_EQ(kMixedBody, req.body);
  EXPECT_EQ(std::to_string(kMixedBody.size()), req.header("content-length"));
  EXPECT_EQ("127.0.0.1:" + std::to_string(server_.port()), req.header("Host"));

  // The caller's lines arrive exactly as written and in order; libcurl's own
  // Accept / Expect / default Content-Type do not appear.
  const std::vector<std::string> lines = req.headerLines();
  std::vector<std::string> callerLines;
  for (const std::string& line : lines) {
    if (line.rfind("Content-Type", 0) == 0 || line.rfind("X-Batch", 0) == 0) {
      callerLines.push_back(line);
    }
  }
  EXPECT_EQ((std::vector<std::string>{"Content-Type:application/json", "X-Batch: 7"}),
            callerLines);
  EXPECT_FALSE(req.hasHeader("Expect"));
  EXPECT_FALSE(req.hasHeader("Accept"));
  EXPECT_EQ("ok", reply);
}

TEST_F(HttpPostTest, LargeBodyIsSentWithoutWaitingForContinue) {
  const std::string big(2 * 1024 * 1024, 'x');
  std::string reply;
  Stopwatch watch;
  httpPost(server_.url("/big"), kJsonHeader, big, reply);
  EXPECT_LT(watch.seconds(), 3.0);
  ASSERT_EQ(1u, server_.requests().size());
  EXPECT_FALSE(server_.requests()[0].hasHeader("Expect"));
  EXPECT_EQ(big.size(), server_.requests()[0].body.size());
  EXPECT_EQ("ok", reply);
}

TEST_F(HttpPostTest, UrlPathAndSchemeDefaults) {
  const std::string hostPort = "127.0.0.1:" + std::to_string(server_.port());
  EXPECT_EQ("ok", post("http://" + hostPort));
  EXPECT_EQ("ok", post(hostPort + "/noscheme"));
  ASSERT_EQ(2u, server_.requests().size());
  EXPECT_EQ("/", server_.requests()[0].path);
  EXPECT_EQ("/noscheme", server_.requests()[1].path);
}

TEST_F(HttpPostTest, EmptyBodyGoesAsGet) {
  std::string reply;
  httpPost(server_.url("/probe"), kJsonHeader, "", reply);
  ASSERT_EQ(1u, server_.requests().size());
  EXPECT_EQ("GET", server_.requests()[0].method);
  EXPECT_EQ("", server_.requests()[0].body);
  EXPECT_EQ("ok", reply);
}

TEST_F(HttpPostTest, NothingIsSentForNonEmptyReplyOrOtherScheme) {
  std::string reply = "left over";
  EXPECT_EQ(1, httpPost(server_.url("/api"), kJsonHeader, kBody, reply));
  EXPECT_EQ("left over", reply);

  const std::string port = std::to_string(server_.port());
  EXPECT_EQ("", post("ftp://127.0.0.1:" + port + "/api"));

  // Give a stray connection time to show up before concluding there was none.
  EXPECT_FALSE(waitUntil([&] { return server_.connections() > 0; }, 300));
}

// https goes out over TLS, verified against the system CA store, which does not
// hold the test CA: the handshake is tried and refused, nothing is delivered.
TEST_F(HttpPostTest, HttpsIsVerifiedAgainstTheSystemStore) {
  TempRoot root;
  TestCerts certs(root.path() + "/tls");
  ASSERT_TRUE(certs.ok()) << certs.error();
  HttpTestServer tls;
  ASSERT_TRUE(tls.startTls({certs.file("server.pem"), certs.file("server.key"), ""}));
  double seconds = 0;
  EXPECT_EQ("", post(tls.url("/api"), &seconds));
  EXPECT_LT(seconds, 3.0);
  EXPECT_EQ(1u, tls.connections());
  EXPECT_TRUE(tls.requests().empty());
}

TEST_F(HttpPostTest, OversizedReplyIsDropped) {
  server_.setReply(200, std::string(17 * 1024 * 1024, 'r'));
  double seconds = 0;
  EXPECT_EQ("", post(server_.url("/api"), &seconds));
  EXPECT_LT(seconds, 5.0);
}

// Name resolution fails without touching the network: a child copy of this test
// runs in its own mount namespace where host names come from /etc/hosts only.
TEST(HttpPostNameTest, UnresolvableNameGivesFailureText) {
  if (std::getenv("TARVEX_HOSTS_ONLY") != nullptr) {
    std::string reply;
    httpPost("http://no-such-host.tarvex.invalid:8080/api", kJsonHeader, kBody, reply);
    EXPECT_EQ(kConnectFailedText, reply);
    return;
  }
  if (!canUseNamespaces()) GTEST_SKIP() << "needs unshare -m";
  TempRoot root;
  const std::string nss = root.path() + "/nsswitch.conf";
  writeFile(nss, "hosts: files\n");
  const std::string script =
      "mount --bind \"$0\" /etc/nsswitch.conf && TARVEX_HOSTS_ONLY=1 exec \"$@\"";
  char self[4096] = {0};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
  std::string output;
  Stopwatch watch;
  int status = runCommand({"unshare", "-m", "--propagation", "private", "sh", "-c", script, nss,
                           self,
                           "--gtest_filter=HttpPostNameTest.UnresolvableNameGivesFailureText"},
                          20000, &output);
  EXPECT_EQ(0, status) << output;
  EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
  EXPECT_LT(watch.seconds(), 5.0);
}

}  // namespace
