// The status endpoint and the systemd notifications of the real service binary,
// with a private redis-server and an HTTP receiver in this process.
#include <curl/curl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "delivery/curl_handles.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_env.h"
#include "tests/support/worked_example.h"

namespace {

constexpr int kStartWaitMs = 15000;  // service start until it owns the work and is subscribed
constexpr int kEventWaitMs = 15000;  // one publish until its post is counted

size_t collect(char* data, size_t size, size_t n, void* sink) {
  static_cast<std::string*>(sink)->append(data, size * n);
  return size * n;
}

// One GET; the status is 0 when nothing answered.
long httpGet(const std::string& url, std::string* body) {
  CurlEasyPtr curl(curl_easy_init());
  body->clear();
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_PROXY, "");
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 3000L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, body);
  long status = 0;
  if (curl_easy_perform(curl.get()) == CURLE_OK) {
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  }
  return status;
}

// A strict reading of the Prometheus text format: every family has one TYPE before
// its samples, names and labels are well formed, no series repeats, counters end
// in _total, histogram buckets rise to +Inf == _count. Returns the series (name
// with its label text) and their values; adds a failure for every violation.
std::map<std::string, double> parseExposition(const std::string& text) {
  std::map<std::string, double> series;
  std::map<std::string, std::string> types;
  std::vector<std::string> order;  // series in the order written
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  auto validName = [](const std::string& n, bool label) {
    if (n.empty() || std::isdigit(static_cast<unsigned char>(n[0]))) return false;
    for (char c : n) {
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (!label && c == ':'))) return false;
    }
    return true;
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("# TYPE ", 0) == 0) {
      const std::size_t sp = line.find(' ', 7);
      const std::string name = line.substr(7, sp - 7);
      const std::string type = line.substr(sp + 1);
      EXPECT_TRUE(validName(name, false)) << line;
      EXPECT_TRUE(type == "counter" || type == "gauge" || type == "histogram") << line;
      EXPECT_EQ(types.count(name), 0u) << "second TYPE: " << line;
      if (type == "counter") {
        EXPECT_EQ(name.substr(name.size() - 6), "_total") << line;
      }
      types[name] = type;
      continue;
    }
    if (line.rfind("# HELP ", 0) == 0) continue;
    std::size_t i = 0;
    while (i < line.size() && line[i] != '{' && line[i] != ' ') ++i;
    const std::string name = line.substr(0, i);
    EXPECT_TRUE(validName(name, false)) << line;
    std::string labels;
    if (i < line.size() && line[i] == '{') {
      const std::size_t close = line.find('}', i);
      EXPECT_NE(close, std::string::npos) << line;
      labels = line.substr(i, close - i + 1);
      // label="value" pairs separated by commas; values without raw quotes.
      std::size_t j = i + 1;
      while (j < close) {
        const std::size_t eq = line.find('=', j);
        EXPECT_TRUE(validName(line.substr(j, eq - j), true)) << line;
        EXPECT_EQ(line[eq + 1], '"') << line;
        const std::size_t q = line.find('"', eq + 2);
        j = q + 1;
        if (j < close) {
          EXPECT_EQ(line[j], ',') << line;
          ++j;
        }
      }
      i = close + 1;
    }
    EXPECT_EQ(line[i], ' ') << line;
    const std::string value = line.substr(i + 1);
    char* stop = nullptr;
    const double v = std::strtod(value.c_str(), &stop);
    EXPECT_TRUE(stop != value.c_str() && *stop == '\0') << line;
    std::string family = name;
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      const std::string s = suffix;
      if (types.count(family) == 0 && family.size() > s.size() &&
          family.compare(family.size() - s.size(), s.size(), s) == 0) {
        family = family.substr(0, family.size() - s.size());
      }
    }
    EXPECT_EQ(types.count(family), 1u) << "sample before its TYPE: " << line;
    EXPECT_EQ(series.count(name + labels), 0u) << "repeated series: " << line;
    series[name + labels] = v;
    order.push_back(name + labels);
  }
  for (const auto& [name, type] : types) {
    if (type != "histogram") continue;
    // Buckets in the order written: rising bounds, never-falling counts, +Inf last.
    double previousBound = -1;
    double previousCount = 0;
    std::string last;
    for (const std::string& key : order) {
      if (key.rfind(name + "_bucket{le=\"", 0) != 0) continue;
      const std::string le = key.substr(name.size() + 12, key.size() - name.size() - 14);
      const double bound = le == "+Inf" ? HUGE_VAL : std::strtod(le.c_str(), nullptr);
      EXPECT_GT(bound, previousBound) << key;
      EXPECT_GE(series[key], previousCount) << key;
      previousBound = bound;
      previousCount = series[key];
      last = le;
    }
    EXPECT_EQ(last, "+Inf") << name;
    EXPECT_EQ(previousCount, series[name + "_count"]) << name;
    EXPECT_EQ(series.count(name + "_sum"), 1u) << name;
  }
  return series;
}

class StatusEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare for a private host";
    ASSERT_TRUE(redis_.start());
    ASSERT_TRUE(receiver_.start());
    statusPort_ = freeLoopbackPort();
    root_.writeCfg("rdsset.ini", "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\n"
                                 "MasterIp0=127.0.0.1\nMasterPort0=" +
                                     std::to_string(redis_.port()) + "\n");
    root_.writeCfg("logsynset.ini", "[tovraurl]\nurl=" + receiver_.url("/api/log") +
                                        "\n[synLogFlag]\nFlag=1\n" + kWorkedExampleDictionaries);
    root_.writeCfg("tarvex.ini",
                   "[Status]\nStatusListen=127.0.0.1:" + std::to_string(statusPort_) + "\n");
  }

  std::string endpoint(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(statusPort_) + path;
  }

  std::map<std::string, double> metrics() {
    std::string body;
    EXPECT_EQ(httpGet(endpoint("/metrics"), &body), 200);
    return parseExposition(body);
  }

  bool waitMetric(const std::string& series, double value) {
    return waitUntil([&] {
      std::string body;
      if (httpGet(endpoint("/metrics"), &body) != 200) return false;
      const std::size_t at = body.find("\n" + series + " ");
      return at != std::string::npos &&
             std::strtod(body.c_str() + at + series.size() + 2, nullptr) == value;
    }, kEventWaitMs, 50);
  }

  bool waitHealth(long status, std::string* body) {
    return waitUntil([&] { return httpGet(endpoint("/health"), body) == status; }, kEventWaitMs, 50);
  }

  void publish(const std::string& text) { EXPECT_EQ(redis_.cli({"PUBLISH", "almTopic", text}), "1"); }

  std::string diagnostics() { return "service output:\n" + service_.output(); }

  RedisServerProcess redis_;
  HttpTestServer receiver_;
  TempRoot root_;
  int statusPort_ = 0;
  TarvexInstance service_{root_.path(), "tarvex-status"};
};

TEST_F(StatusEndpointTest, CountersFollowAKnownSequenceAndHealthFollowsTheReceiver) {
  ASSERT_TRUE(service_.start({"-self"}, {{"TZ", "UTC"}}));
  std::string body;
  ASSERT_TRUE(waitHealth(200, &body)) << body << diagnostics();
  EXPECT_EQ(body, "{\"status\":\"ok\",\"role\":\"owner\"}\n");

  // Two texts dropped by the filter, one that is no JSON, one whose two records
  // are both skipped: no post.
  publish("no marker here");
  publish("nothing either");
  publish("Control, but not JSON");
  publish("[{\"classname\":\"Alarm\",\"x\":\"Control\"},"
          "{\"classname\":\"Control\",\"appsysid\":\"9\",\"groupname\":\"ST07\"}]");
  ASSERT_TRUE(waitMetric("tarvex_records_skipped_total{reason=\"unknown_app_system\"}", 1))
      << diagnostics();

  publish(kWorkedExampleMessage);  // 200
  ASSERT_TRUE(receiver_.waitForRequests(1, kEventWaitMs)) << diagnostics();
  receiver_.setReply(500, "fail");
  publish(kWorkedExampleMessage);  // 500
  ASSERT_TRUE(receiver_.waitForRequests(2, kEventWaitMs)) << diagnostics();
  ASSERT_TRUE(waitMetric("tarvex_documents_posted_total", 2));
  ASSERT_TRUE(waitHealth(503, &body)) << body << diagnostics();
  EXPECT_EQ(body.rfind("{\"status\":\"failing\",\"role\":\"owner\","
                       "\"reason\":\"last reply 500 ", 0), 0u) << body;

  const int receiverPort = receiver_.port();
  receiver_.stop();
  publish(kWorkedExampleMessage);  // refused
  ASSERT_TRUE(waitMetric("tarvex_replies_total{kind=\"connect_failed\"}", 1)) << diagnostics();
  ASSERT_TRUE(waitHealth(503, &body)) << body << diagnostics();
  EXPECT_EQ(body.rfind("{\"status\":\"failing\",\"role\":\"owner\","
                       "\"reason\":\"last post: connect failed ", 0), 0u) << body;

  receiver_.setReply(200, "ok");
  ASSERT_TRUE(receiver_.start(receiverPort));
  publish(kWorkedExampleMessage);  // 200 again
  ASSERT_TRUE(waitHealth(200, &body)) << body << diagnostics();
  EXPECT_EQ(body, "{\"status\":\"ok\",\"role\":\"owner\"}\n");

  std::map<std::string, double> m = metrics();
  EXPECT_EQ(m["tarvex_role{role=\"owner\"}"], 1);
  EXPECT_EQ(m["tarvex_role{role=\"standby\"}"], 0);
  EXPECT_EQ(m["tarvex_texts_received_total"], 8);
  EXPECT_EQ(m["tarvex_texts_filtered_total"], 2);
  EXPECT_EQ(m["tarvex_records_converted_total"], 4);
  EXPECT_EQ(m["tarvex_records_skipped_total{reason=\"unreadable_text\"}"], 1);
  EXPECT_EQ(m["tarvex_records_skipped_total{reason=\"not_control\"}"], 1);
  EXPECT_EQ(m["tarvex_records_skipped_total{reason=\"unknown_app_system\"}"], 1);
  EXPECT_EQ(m["tarvex_records_skipped_total{reason=\"unknown_station\"}"], 0);
  EXPECT_EQ(m["tarvex_documents_posted_total"], 4);
  EXPECT_EQ(m["tarvex_replies_total{kind=\"2xx\"}"], 2);
  EXPECT_EQ(m["tarvex_replies_total{kind=\"5xx\"}"], 1);
  EXPECT_EQ(m["tarvex_replies_total{kind=\"other\"}"], 0);
  EXPECT_EQ(m["tarvex_replies_total{kind=\"connect_failed\"}"], 1);
  EXPECT_EQ(m["tarvex_replies_total{kind=\"no_reply\"}"], 0);
  EXPECT_EQ(m["tarvex_delivery_latency_seconds_count"], 4);
  EXPECT_EQ(m["tarvex_subscribed"], 1);
  EXPECT_EQ(m["tarvex_subscription_gaps_total"], 0);
  EXPECT_EQ(m["tarvex_texts_trimmed_total"], 0);
  EXPECT_EQ(m["tarvex_stream_length"], 0);
  EXPECT_GT(m["tarvex_last_success_timestamp_seconds"], 1.7e9);

  EXPECT_EQ(httpGet(endpoint("/nowhere"), &body), 404);
  // The 500 and the refused post gave one reason line each on stderr.
  const std::string out = service_.output();
  EXPECT_NE(out.find("tarvex: post to the receiver failed: status 500\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("tarvex: post to the receiver failed: connect failed (Failed to connect to "
                     "127.0.0.1 port " + std::to_string(receiverPort)),
            std::string::npos)
      << out;
  service_.kill();
}

TEST_F(StatusEndpointTest, SubscriptionGapIsCountedAndReported) {
  ASSERT_TRUE(service_.start({"-self"}));
  std::string body;
  ASSERT_TRUE(waitHealth(200, &body)) << body << diagnostics();
  // Only the subscription's connection is cut; the owner hash stays readable.
  ASSERT_EQ(redis_.cli({"CLIENT", "KILL", "TYPE", "pubsub"}), "1");
  ASSERT_TRUE(waitMetric("tarvex_subscription_gaps_total", 1)) << diagnostics();
  ASSERT_TRUE(waitUntil([&] { return metrics()["tarvex_subscription_gap_seconds_total"] > 0; },
                        kEventWaitMs, 100)) << diagnostics();
  std::map<std::string, double> m = metrics();
  // The subscriber pauses 1 s after every attempt before it subscribes again.
  EXPECT_GE(m["tarvex_subscription_gap_seconds_total"], 1.0);
  EXPECT_EQ(m["tarvex_subscribed"], 1);
  EXPECT_EQ(m["tarvex_redis_reconnects_total"], 1);
  const std::string out = service_.output();
  EXPECT_EQ(out.rfind("tarvex: subscription to almTopic lost; messages published until it is "
                      "back are not received\n"
                      "tarvex: subscription gap from ", 0), 0u) << out;
  EXPECT_NE(out.find(" (1."), std::string::npos) << out;
  EXPECT_NE(out.find(" s, subscription lost): messages published then were not received by "
                     "this copy\n"), std::string::npos) << out;
  service_.kill();
}

TEST_F(StatusEndpointTest, RefusedReceiverCertificateIsReportedOnceOnStderr) {
  TestCerts certs(root_.path() + "/tls");
  ASSERT_TRUE(certs.ok()) << certs.error();
  HttpTestServer tls;
  ASSERT_TRUE(tls.startTls({certs.file("server.pem"), certs.file("server.key"), ""}));
  root_.writeCfg("logsynset.ini", "[tovraurl]\nurl=" + tls.url("/api/log") +
                                      "\n[synLogFlag]\nFlag=1\n" + kWorkedExampleDictionaries);
  root_.writeCfg("tarvex.ini", "[Http]\nCaFile=" + certs.file("wrongca.pem") +
                                   "\n[Status]\nStatusListen=127.0.0.1:" +
                                   std::to_string(statusPort_) + "\n");
  ASSERT_TRUE(service_.start({"-self"}));
  std::string body;
  ASSERT_TRUE(waitHealth(200, &body)) << body << diagnostics();
  publish(kWorkedExampleMessage);  // refused certificate
  ASSERT_TRUE(waitMetric("tarvex_replies_total{kind=\"connect_failed\"}", 1)) << diagnostics();
  // A second post starts only when the first one's reporting is over.
  tls.stop();
  publish(kWorkedExampleMessage);  // refused connection
  ASSERT_TRUE(waitMetric("tarvex_documents_posted_total", 2)) << diagnostics();

  const std::string out = service_.output();
  const std::string reason = "SSL certificate problem: unable to get local issuer certificate";
  const std::size_t first = out.find(reason);
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find(reason, first + 1), std::string::npos) << out;
  EXPECT_NE(out.find("tarvex: TLS with the receiver failed: " + reason + "\n"), std::string::npos)
      << out;
  service_.kill();
}

TEST_F(StatusEndpointTest, OccupiedPortGivesOneLineAndTheServiceRunsOn) {
  // The port is held by another listener; the service takes the work without it.
  HttpTestServer squatter;
  ASSERT_TRUE(squatter.start());
  root_.writeCfg("tarvex.ini",
                 "[Status]\nStatusListen=127.0.0.1:" + std::to_string(squatter.port()) + "\n");
  ASSERT_TRUE(service_.start({"-self"}));
  ASSERT_TRUE(waitUntil([&] { return redis_.cli({"PUBSUB", "NUMSUB", "almTopic"}) == "almTopic\n1"; },
                        kStartWaitMs, 50)) << diagnostics();
  EXPECT_EQ(service_.output(), "tarvex: status endpoint not started: cannot listen on 127.0.0.1:" +
                                   std::to_string(squatter.port()) + ": Address already in use\n");
  EXPECT_TRUE(service_.process().running());
  service_.kill();
}

// A datagram socket standing in for systemd's notification socket.
class FakeNotifySocket {
 public:
  explicit FakeNotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    timeval tv{0, 200000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  }
  ~FakeNotifySocket() {
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool bound() const { return bound_; }

  // Reads datagrams until one satisfies `want` or timeoutMs passes; keeps them all.
  bool waitFor(const std::function<bool(const std::string&)>& want, int timeoutMs) {
    return waitUntil([&] {
      char buf[4096];
      const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
      if (n <= 0) return false;
      messages.emplace_back(buf, static_cast<std::size_t>(n));
      return want(messages.back());
    }, timeoutMs, 1);
  }

  std::vector<std::string> messages;

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST_F(StatusEndpointTest, StandbyThenOwnerUnderANotifySocket) {
  FakeNotifySocket notify(root_.path() + "/notify.sock");
  ASSERT_TRUE(notify.bound());
  // Another host owns the work; its heartbeat stays fresh long enough. Its name,
  // read from Redis, cannot add an assignment of its own to the notification.
  ASSERT_EQ(redis_.cli({"HMSET", "useflag:tarvex", "host", "hostB\nWATCHDOG=trigger", "time",
                        "1796747813"}), "OK");
  ASSERT_TRUE(service_.start({"-self"}, {{"NOTIFY_SOCKET", root_.path() + "/notify.sock"},
                                         {"WATCHDOG_USEC", "1000000"}}));

  ASSERT_TRUE(notify.waitFor([](const std::string& m) { return m.rfind("READY=1\n", 0) == 0; },
                             kStartWaitMs)) << diagnostics();
  EXPECT_EQ(notify.messages.front(), "READY=1\nSTATUS=standby: reading the owner hash");
  ASSERT_TRUE(notify.waitFor([](const std::string& m) {
    return m == "WATCHDOG=1\nSTATUS=standby: owner hostB?WATCHDOG=trigger, heartbeat 1796747813";
  }, kStartWaitMs)) << diagnostics();
  std::string body;
  EXPECT_EQ(httpGet(endpoint("/health"), &body), 200);
  EXPECT_EQ(body, "{\"status\":\"ok\",\"role\":\"standby\"}\n");

  // The owner's record goes: the standby takes the work at its next read.
  redis_.cli({"DEL", "useflag:tarvex"});
  ASSERT_TRUE(notify.waitFor([](const std::string& m) {
    return m == "WATCHDOG=1\nSTATUS=owner: 0 documents, no post yet";
  }, kStartWaitMs)) << diagnostics();
  service_.kill();
}

}  // namespace
