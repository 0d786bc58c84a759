// HttpDelivery against real loopback servers: TLS verification and client
// certificates, extra header lines, and keep-alive over plain and TLS connections.
#include "delivery/http_delivery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/tarvex_options.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_env.h"

namespace {

constexpr const char* kJsonHeader = "Content-Type:application/json\r\n";
constexpr const char* kBody = "[{\"guid\":\"1\"}]";
constexpr const char* kReasonPrefix = "tarvex: TLS with the receiver failed: ";

// Runs `action` with this process's stderr sent to `path`; returns what it wrote.
std::string stderrOf(const std::string& path, const std::function<void()>& action) {
  std::fflush(stderr);
  const int saved = ::dup(2);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ::dup2(fd, 2);
  ::close(fd);
  action();
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  return readFile(path);
}

class HttpsDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(certs_.ok()) << certs_.error(); }

  // A plain server, or a TLS one presenting `cert` (server or othername) and
  // optionally demanding a client certificate from the test CA.
  std::unique_ptr<HttpTestServer> server(bool tls, const std::string& cert = "server",
                                         bool demandClientCert = false) {
    auto server = std::make_unique<HttpTestServer>();
    EXPECT_TRUE(!tls ? server->start()
                     : server->startTls({certs_.file(cert + ".pem"), certs_.file(cert + ".key"),
                                         demandClientCert ? certs_.file("ca.pem") : ""}));
    return server;
  }

  TarvexOptions trustingTestCa(int32_t keepAlive = 0) const {
    TarvexOptions options;
    options.caFile = certs_.file("ca.pem");
    options.keepAlive = keepAlive;
    return options;
  }

  // One post of kBody; the reply, and how long it took.
  std::string post(HttpDelivery& delivery, const std::string& url, HttpOutcome* outcome,
                   double* seconds = nullptr) {
    std::string reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(1, delivery.post(url, kJsonHeader, kBody, reply, outcome));
    if (seconds != nullptr) {
      *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return reply;
  }

  TempRoot root_;
  TestCerts certs_{root_.path() + "/tls"};
};

TEST_F(HttpsDeliveryTest, CaFileGivesByteExactDeliveryWithExtraHeadersAfterTheCallers) {
  auto server = this->server(true);
  TarvexOptions options = trustingTestCa();
  options.extraHeaders = {"Authorization: Bearer x", "X-Trace:  a\tb "};
  HttpDelivery delivery(options);

  const std::string body("[{\"d\":\"\xB2\xD9\xD7\xF7\0|\xE6\x93\x8D\"}]", 19);
  std::string reply;
  HttpOutcome outcome;
  server->setReply(201, "accepted");
  ASSERT_EQ(1, delivery.post(server->url("/api/log"), kJsonHeader, body, reply, &outcome));
  EXPECT_EQ("accepted", reply);
  EXPECT_EQ(HttpOutcomeKind::kReply, outcome.kind);
  EXPECT_EQ(201, outcome.status);
  EXPECT_EQ("", outcome.error);

  ASSERT_EQ(1u, server->requests().size());
  const HttpTestServer::Request req = server->requests()[0];
  EXPECT_TRUE(req.complete);
  EXPECT_EQ("POST /api/log HTTP/1.1", req.method + " " + req.path + " " + req.version);
  EXPECT_EQ(body, req.body);
  EXPECT_EQ("127.0.0.1:" + std::to_string(server->port()) + "\r\n" +
                "Content-Type:application/json\r\n"
                "Authorization: Bearer x\r\n"
                "X-Trace:  a\tb \r\n"
                "Content-Length: 19\r\n",
            req.headerBlock.substr(req.headerBlock.find("Host: ") + 6));

  // A 5xx is a reply too: its code and body come back.
  server->setReply(503, "busy");
  EXPECT_EQ("busy", post(delivery, server->url("/api/log"), &outcome));
  EXPECT_EQ(HttpOutcomeKind::kReply, outcome.kind);
  EXPECT_EQ(503, outcome.status);
}

TEST_F(HttpsDeliveryTest, LongBearerTokenInTarvexIniArrivesWhole) {
  // Up to 8191 bytes of a value are kept; a longer one loses its tail.
  const std::string token(1500, 't');
  const std::string huge(9000, 'h');
  root_.writeCfg("tarvex.ini", "[Http]\nHeaderNum=2\nHeader0=Authorization: Bearer " + token +
                                   "\nHeader1=X-Huge: " + huge + "\n");
  TarvexOptions options;
  ASSERT_TRUE(options.load());
  auto server = this->server(false);
  HttpDelivery delivery(options);
  HttpOutcome outcome;
  post(delivery, server->url("/api/log"), &outcome);
  ASSERT_EQ(1u, server->requests().size());
  const std::vector<std::string> lines = server->requests()[0].headerLines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ("Authorization: Bearer " + token, lines[2]);
  EXPECT_EQ("X-Huge: " + huge.substr(0, 8191 - 8), lines[3]);
}

TEST_F(HttpsDeliveryTest, ClientCertificateTheServerDemandsIsPresented) {
  auto server = this->server(true, "server", true);
  HttpOutcome outcome;
  HttpDelivery without(trustingTestCa());
  EXPECT_EQ("", post(without, server->url("/api"), &outcome));
  EXPECT_NE(HttpOutcomeKind::kReply, outcome.kind);
  EXPECT_TRUE(server->requests().empty());

  TarvexOptions options = trustingTestCa();
  options.clientCertFile = certs_.file("client.pem");
  options.clientKeyFile = certs_.file("client.key");
  HttpDelivery with(options);
  EXPECT_EQ("ok", post(with, server->url("/api"), &outcome));
  EXPECT_EQ(200, outcome.status);
  ASSERT_EQ(1u, server->requests().size());
  EXPECT_EQ(kBody, server->requests()[0].body);
}

TEST_F(HttpsDeliveryTest, UntrustedOrMisnamedCertificateIsRefusedAtOnceWithOneStderrLine) {
  struct Case {
    const char* serverCert;
    const char* caFile;
    const char* reason;
  };
  const Case cases[] = {
      {"server", "wrongca.pem", "SSL certificate problem: unable to get local issuer certificate"},
      {"othername", "ca.pem",
       "SSL: no alternative certificate subject name matches target host name '127.0.0.1'"},
  };
  for (const Case& c : cases) {
    auto server = this->server(true, c.serverCert);
    TarvexOptions options;
    options.caFile = certs_.file(c.caFile);
    HttpDelivery delivery(options);
    HttpOutcome outcome;
    double seconds = 0;
    EXPECT_EQ(std::string(kReasonPrefix) + c.reason + "\n", stderrOf(root_.path() + "/err", [&] {
      EXPECT_EQ("", post(delivery, server->url("/api"), &outcome, &seconds)) << c.caFile;
    }));
    EXPECT_EQ(HttpOutcomeKind::kTlsFailed, outcome.kind);
    EXPECT_EQ(c.reason, outcome.error);
    EXPECT_EQ(0, outcome.status);
    EXPECT_LT(seconds, 3.0);
    EXPECT_EQ(1u, server->connections());
    EXPECT_TRUE(server->requests().empty());
  }
}

TEST_F(HttpsDeliveryTest, UnusableClientKeyIsReportedWithoutItsPath) {
  auto server = this->server(true, "server", true);
  TarvexOptions options = trustingTestCa();
  options.clientCertFile = certs_.file("client.pem");
  options.clientKeyFile = root_.path() + "/secret/missing-client.key";
  HttpDelivery delivery(options);
  HttpOutcome outcome;
  const std::string reason = "unable to set private key file: '<client key file>' type PEM";
  EXPECT_EQ(std::string(kReasonPrefix) + reason + "\n", stderrOf(root_.path() + "/err", [&] {
    EXPECT_EQ("", post(delivery, server->url("/api"), &outcome));
  }));
  EXPECT_EQ(HttpOutcomeKind::kTlsFailed, outcome.kind);
  EXPECT_EQ(reason, outcome.error);
  EXPECT_TRUE(server->requests().empty());
}

using KeepAliveTest = HttpsDeliveryTest;

TEST_F(KeepAliveTest, HundredDocumentsGoOverOneConnection) {
  for (bool tls : {false, true}) {
    auto receiver = server(tls);
    receiver->setKeepAlive(1000);
    HttpDelivery delivery(trustingTestCa(1));
    for (int i = 0; i < 100; ++i) {
      std::string reply;
      delivery.post(receiver->url("/api"), kJsonHeader, "[" + std::to_string(i) + "]", reply);
      ASSERT_EQ("ok", reply) << i << (tls ? " https" : " http");
    }
    EXPECT_EQ(1u, receiver->connections());
    const std::vector<HttpTestServer::Request> requests = receiver->requests();
    ASSERT_EQ(100u, requests.size());
    for (int i = 0; i < 100; ++i) EXPECT_EQ("[" + std::to_string(i) + "]", requests[i].body);
  }
}

TEST_F(KeepAliveTest, DeliverySurvivesTheServerClosingTheKeptConnection) {
  for (bool tls : {false, true}) {
    for (bool closeOnNextRequest : {false, true}) {
      auto receiver = server(tls);
      receiver->setKeepAlive(2, closeOnNextRequest);
      HttpDelivery delivery(trustingTestCa(1));
      HttpOutcome outcome;
      for (int i = 0; i < 6; ++i) {
        ASSERT_EQ("ok", post(delivery, receiver->url("/api"), &outcome))
            << i << " tls " << tls << " closeOnNextRequest " << closeOnNextRequest;
        EXPECT_EQ(200, outcome.status);
      }
      // Two documents per connection; a request the server dropped unanswered was
      // sent again on the next connection.
      EXPECT_EQ(3u, receiver->connections());
      EXPECT_EQ(closeOnNextRequest ? 8u : 6u, receiver->requests().size());
    }
  }
}

TEST_F(KeepAliveTest, OffMeansOneConnectionPerPostWithTheSameBytes) {
  auto receiver = server(false);
  receiver->setKeepAlive(1000);
  HttpDelivery fresh(trustingTestCa(0));
  HttpDelivery kept(trustingTestCa(1));
  HttpOutcome outcome;
  for (int i = 0; i < 3; ++i) EXPECT_EQ("ok", post(fresh, receiver->url("/api"), &outcome));
  EXPECT_EQ(3u, receiver->connections());
  EXPECT_EQ("ok", post(kept, receiver->url("/api"), &outcome));
  const std::vector<HttpTestServer::Request> requests = receiver->requests();
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ(requests[0].headerBlock, requests[3].headerBlock);
  EXPECT_EQ(requests[0].body, requests[3].body);
}

}  // namespace
