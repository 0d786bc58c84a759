// The one TLS setup of the delivery and of the operator check's receiver try: a
// receiver that only the system CA directory knows is refused by both once CaFile
// is set, and reached by both without it.
#include "delivery/curl_tls.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "delivery/http_delivery.h"
#include "operator/reach_probe.h"
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_env.h"

namespace {

constexpr const char* kSystemCaDir = "/etc/ssl/certs";  // libcurl's built-in CA directory
constexpr int kTriesMs = 20000;                          // bound of both tries together

class ReceiverTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and a mount namespace";
    ASSERT_TRUE(certs_.ok()) << certs_.error();
    ASSERT_TRUE(server_.startTls({certs_.file("server.pem"), certs_.file("server.key"), ""}));
    // A stand-in system store: its directory holds the test CA under its hash name,
    // as c_rehash links it; its bundle holds only the CA that signed nothing.
    std::string hash;
    ASSERT_EQ(0, runCommand({"openssl", "x509", "-hash", "-noout", "-in", certs_.file("ca.pem")},
                            kTriesMs, &hash));
    hash = hash.substr(0, hash.find('\n'));
    ASSERT_EQ(0, runCommand({"mkdir", "-p", systemDir_}, kTriesMs));
    writeFile(systemDir_ + "/" + hash + ".0", readFile(certs_.file("ca.pem")));
    writeFile(systemDir_ + "/ca-certificates.crt", readFile(certs_.file("wrongca.pem")));
  }

  // "probe <detail or ok>\ndelivery <error or status>\n": one receiver try and one
  // post, both with CaFile `caFile`, made in a child that sees systemDir_ as the
  // system CA directory.
  std::string triesWith(const std::string& caFile) {
    const std::string resultFile = root_.path() + "/tries.txt";
    const std::string url = server_.url("/api");
    const pid_t pid = fork();
    if (pid == 0) {
      std::string text = "namespace not made\n";
      if (unshare(CLONE_NEWNS) == 0 &&
          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
          mount(systemDir_.c_str(), kSystemCaDir, nullptr, MS_BIND, nullptr) == 0) {
        TarvexOptions options;
        options.caFile = caFile;
        const ProbeResult probe = probeReceiver(url, tlsFilesOf(options));
        HttpDelivery delivery(options);
        HttpOutcome outcome;
        std::string reply;
        delivery.post(url, "", "[]", reply, &outcome);
        text = "probe " + (probe.ok ? std::string("ok") : probe.detail) + "\ndelivery " +
               (outcome.kind == HttpOutcomeKind::kReply ? "status " + std::to_string(outcome.status)
                                                        : outcome.error) +
               "\n";
      }
      writeFile(resultFile, text);
      _exit(0);
    }
    int status = -1;
    const bool ended = waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kTriesMs);
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return "tries did not end";
    }
    return readFile(resultFile);
  }

  TempRoot root_;
  TestCerts certs_{root_.path() + "/tls"};
  std::string systemDir_ = root_.path() + "/system-ca";
  HttpTestServer server_;
};

TEST_F(ReceiverTrustTest, CaFileThatDoesNotTrustTheReceiverFailsTheCheckAsItFailsDelivery) {
  EXPECT_EQ(
      "probe SSL certificate problem: unable to get local issuer certificate\n"
      "delivery SSL certificate problem: unable to get local issuer certificate\n",
      triesWith(certs_.file("wrongca.pem")));
}

TEST_F(ReceiverTrustTest, WithoutCaFileTheSystemDirectoryServesBoth) {
  EXPECT_EQ("probe ok\ndelivery status 200\n", triesWith(""));
}

}  // namespace
