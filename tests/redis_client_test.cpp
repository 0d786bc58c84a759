#include "redis/redis_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "platform/quiet_end.h"
#include "redis/subscriber.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::string>;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// One address section of rdsset.ini: prefix "Master" or "Slave".
std::string addressSection(const std::string& prefix, const Texts& hosts,
                           const std::vector<int>& ports) {
  std::string s = "[Connection" + prefix + "]\n" + prefix + "Num=" +
                  std::to_string(ports.size()) + "\n";
  for (std::size_t i = 0; i < ports.size(); ++i) {
    s += prefix + "Ip" + std::to_string(i) + "=" + hosts[i] + "\n";
    s += prefix + "Port" + std::to_string(i) + "=" + std::to_string(ports[i]) + "\n";
  }
  return s;
}

std::string loopbackSection(const std::string& prefix, const std::vector<int>& ports) {
  return addressSection(prefix, Texts(ports.size(), "127.0.0.1"), ports);
}

int localPort(const RedisContextPtr& c) {
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  if (c == nullptr || getsockname(c->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return -1;
  }
  return ntohs(addr.sin_port);
}

// The "id=" of the client whose address is 127.0.0.1:clientPort on `server`, or -1.
long long clientId(const RedisServerProcess& server, int clientPort) {
  std::istringstream list(server.cli({"CLIENT", "LIST"}));
  const std::string addr = " addr=127.0.0.1:" + std::to_string(clientPort) + " ";
  for (std::string line; std::getline(list, line);) {
    if (line.find(addr) != std::string::npos && line.compare(0, 3, "id=") == 0) {
      return std::atoll(line.c_str() + 3);
    }
  }
  return -1;
}

// Clients on `server` other than the redis-cli that asks.
int clientCount(const RedisServerProcess& server) {
  std::istringstream list(server.cli({"CLIENT", "LIST"}));
  int n = 0;
  for (std::string line; std::getline(list, line);) {
    if (line.find("cmd=client") == std::string::npos) ++n;
  }
  return n;
}

// True when `c` is usable and holds a connection that `server` lists.
bool connectedTo(const RedisContextPtr& c, const RedisServerProcess& server) {
  return redisUsable(c) && clientId(server, localPort(c)) >= 0;
}

RedisReplyPtr command(const RedisContextPtr& c, const char* text) {
  return RedisReplyPtr(static_cast<redisReply*>(redisCommand(c.get(), text)));
}

timeval socketTimeout(const RedisContextPtr& c, int option) {
  timeval tv{-1, -1};
  socklen_t len = sizeof(tv);
  getsockopt(c->fd, SOL_SOCKET, option, &tv, &len);
  return tv;
}

class RedisClientTest : public ::testing::Test {
 protected:
  // As in the service: a write to a connection the server dropped must not kill us.
  void SetUp() override { ignoreBrokenPipe(); }

  void writeSettings(const std::string& text) { root_.writeCfg("rdsset.ini", text); }

  // Starts `n` servers; fails the test when one does not come up.
  void startServers(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      servers_.push_back(std::make_unique<RedisServerProcess>());
      ASSERT_TRUE(servers_.back()->start());
    }
  }
  RedisServerProcess& server(std::size_t i) { return *servers_[i]; }
  int port(std::size_t i) { return servers_[i]->port(); }

  TempRoot root_;
  std::vector<std::unique_ptr<RedisServerProcess>> servers_;
};

TEST_F(RedisClientTest, ZeroOrNegativeTimeoutSetsNoLimit) {
  startServers(1);
  // The last pair is accepted but comes to less than one millisecond.
  const std::vector<std::pair<const char*, int>> cases = {
      {"OvertimeSec=0\nOvertimeUsec=0\n", 0},
      {"OvertimeSec=-1\nOvertimeUsec=500000\n", 0},
      {"OvertimeSec=1\nOvertimeUsec=-1\n", 0},
      {"OvertimeSec=0\nOvertimeUsec=999\n", 1}};
  for (const auto& [format, useTimeout] : cases) {
    SCOPED_TRACE(format);
    writeSettings(std::string("[Format]\n") + format + loopbackSection("Master", {port(0)}));
    RedisClient client;
    EXPECT_EQ(useTimeout, client.useTimeout);
    client.connect(1);
    ASSERT_TRUE(redisUsable(client.readConn));
    for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
      const timeval tv = socketTimeout(client.readConn, option);
      EXPECT_EQ(0, tv.tv_sec);
      EXPECT_EQ(0, tv.tv_usec);
    }
  }
}

TEST_F(RedisClientTest, TimeoutIsCutToWholeMillisecondsWithCarry) {
  startServers(1);
  writeSettings("[Format]\nOvertimeSec=0\nOvertimeUsec=2500999\n" +
                loopbackSection("Master", {port(0)}));
  RedisClient client;
  timeval tv{};
  ASSERT_TRUE(client.commandTimeval(&tv));
  EXPECT_EQ(2, tv.tv_sec);
  EXPECT_EQ(500000, tv.tv_usec);
  // Sockets refuse a microseconds part of a second or more; the carry keeps the
  // connection usable.
  client.connect(1);
  ASSERT_TRUE(redisUsable(client.readConn));
  const timeval set = socketTimeout(client.readConn, SO_RCVTIMEO);
  EXPECT_EQ(2, set.tv_sec);
  EXPECT_EQ(500000, set.tv_usec);
}

TEST_F(RedisClientTest, HalfSecondTimeoutEndsQuietRead) {
  startServers(1);
  writeSettings("[Format]\nOvertimeSec=0\nOvertimeUsec=500000\n" +
                loopbackSection("Master", {port(0)}));
  RedisClient client;
  EXPECT_EQ(1, client.useTimeout);
  client.connect(1);
  ASSERT_TRUE(redisUsable(client.readConn));
  const Clock::time_point start = Clock::now();
  RedisReplyPtr reply = command(client.readConn, "BLPOP tarvex:quiet 0");
  const long long ms = msSince(start);
  EXPECT_EQ(nullptr, reply);
  EXPECT_GE(ms, 450);
  EXPECT_LT(ms, 2000);
  // The timed-out handle stays in place, in error, until a connect replaces it.
  redisContext* broken = client.readConn.get();
  ASSERT_NE(nullptr, broken);
  EXPECT_NE(0, broken->err);
  client.connect(1);
  EXPECT_TRUE(connectedTo(client.readConn, server(0)));
  RedisReplyPtr pong = command(client.readConn, "PING");
  ASSERT_NE(nullptr, pong);
  EXPECT_EQ("PONG", std::string(pong->str));
}

TEST_F(RedisClientTest, ReadPrefersFirstSlaveThatAnswers) {
  startServers(2);  // 0: master, 1: second slave
  const int downSlave = freeLoopbackPort();
  writeSettings("[ConnectionMode]\nMode=2\n" + loopbackSection("Master", {port(0)}) +
                loopbackSection("Slave", {downSlave, port(1)}));
  RedisClient client;
  client.connect(1);
  EXPECT_TRUE(connectedTo(client.readConn, server(1)));
  EXPECT_EQ(port(1), client.readAddr.port);
  EXPECT_STREQ("127.0.0.1", client.readAddr.host);
  EXPECT_EQ(0, clientCount(server(0)));
  EXPECT_EQ(nullptr, client.writeConn);
}

TEST_F(RedisClientTest, ReadFallsBackToFirstMasterThatAnswers) {
  startServers(2);  // two masters
  const int downMaster = freeLoopbackPort();
  writeSettings("[ConnectionMode]\nMode=2\n" +
                loopbackSection("Master", {downMaster, port(0), port(1)}) +
                loopbackSection("Slave", {freeLoopbackPort(), freeLoopbackPort()}));
  RedisClient client;
  EXPECT_EQ(1, client.connectRead());
  EXPECT_TRUE(connectedTo(client.readConn, server(0)));
  EXPECT_EQ(0, clientCount(server(1)));
}

TEST_F(RedisClientTest, ConnectMakesOnlyTheConnectionsAskedFor) {
  startServers(1);
  writeSettings(loopbackSection("Master", {port(0)}));
  RedisClient client;
  for (int which : {0, 4, -1}) {
    EXPECT_EQ(1, client.connect(which));
    EXPECT_EQ(nullptr, client.readConn);
    EXPECT_EQ(nullptr, client.writeConn);
  }
  EXPECT_EQ(0, clientCount(server(0)));

  // Mode 1 has no slaves: reads go to the master.
  EXPECT_TRUE(client.slaveAddrs.empty());
  client.connect(1);
  EXPECT_TRUE(connectedTo(client.readConn, server(0)));
  EXPECT_EQ(nullptr, client.writeConn);
  client.readConn.reset();

  client.connect(2);
  EXPECT_EQ(nullptr, client.readConn);
  EXPECT_TRUE(connectedTo(client.writeConn, server(0)));
  EXPECT_EQ(port(0), client.masterAddr.port);

  client.connect(3);
  EXPECT_TRUE(connectedTo(client.readConn, server(0)));
  EXPECT_TRUE(connectedTo(client.writeConn, server(0)));
  // The read connection is made first; the replaced write connection goes away.
  EXPECT_LT(clientId(server(0), localPort(client.readConn)),
            clientId(server(0), localPort(client.writeConn)));
  EXPECT_TRUE(waitUntil([this] { return clientCount(server(0)) == 2; }, 2000));
}

TEST_F(RedisClientTest, RestartedServerIsReachedByNextExchange) {
  startServers(1);
  writeSettings(loopbackSection("Master", {port(0)}));
  RedisClient client;
  client.connect(3);
  ASSERT_TRUE(redisUsable(client.readConn));
  ASSERT_TRUE(redisUsable(client.writeConn));

  server(0).stop(9);
  EXPECT_EQ(nullptr, command(client.readConn, "PING"));
  EXPECT_NE(0, client.readConn->err);
  EXPECT_EQ(-1, client.connectRead());  // nothing answers while it is down
  EXPECT_EQ(nullptr, client.readConn);
  ASSERT_TRUE(server(0).restart());

  // Each exchange reconnects its own kind only.
  redisContext* oldWrite = client.writeConn.get();
  if (!redisUsable(client.readConn)) client.connect(1);
  EXPECT_EQ(oldWrite, client.writeConn.get());
  RedisReplyPtr read = command(client.readConn, "HMGET useflag:tarvex host time");
  ASSERT_NE(nullptr, read);
  EXPECT_EQ(REDIS_REPLY_ARRAY, read->type);

  EXPECT_EQ(nullptr, command(client.writeConn, "HMSET useflag:tarvex host h time 1"));
  ASSERT_FALSE(redisUsable(client.writeConn));
  client.connect(2);
  RedisReplyPtr written = command(client.writeConn, "HMSET useflag:tarvex host h time 1");
  ASSERT_NE(nullptr, written);
  EXPECT_EQ(REDIS_REPLY_STATUS, written->type);
  EXPECT_EQ("h", server(0).cli({"HGET", "useflag:tarvex", "host"}));
  EXPECT_EQ(2, clientCount(server(0)));
}

TEST_F(RedisClientTest, OverlongHostIsSkipped) {
  startServers(2);
  // Numeric forms of 127.0.0.1 that need no name service: 51 and 52 characters.
  const std::string host51 = "0x" + std::string(41, '0') + "7f.0.0.1";
  const std::string host52 = "0x" + std::string(42, '0') + "7f.0.0.1";
  ASSERT_EQ(51u, host51.size());
  ASSERT_EQ(52u, host52.size());

  writeSettings(addressSection("Master", {host51}, {port(0)}));
  RedisClient fits;
  fits.connect(2);
  EXPECT_TRUE(connectedTo(fits.writeConn, server(0)));
  EXPECT_EQ(host51, fits.masterAddr.host);

  writeSettings(addressSection("Master", {host52, "127.0.0.1"}, {port(0), port(1)}));
  RedisClient tooLong;
  tooLong.connect(3);
  EXPECT_TRUE(connectedTo(tooLong.readConn, server(1)));
  EXPECT_TRUE(connectedTo(tooLong.writeConn, server(1)));
  EXPECT_EQ(1, clientCount(server(0)));  // only `fits`
}

// A loopback listener whose accept queue is full: the kernel drops further SYNs, so
// a connect to it gets no answer at all, like one to a powered-off host. Its sockets
// are close-on-exec so that servers started later do not keep the listener open.
class SilentListener {
 public:
  SilentListener() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      return;
    }
    port_ = ntohs(addr.sin_port);
    filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(filler_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) port_ = -1;
  }
  ~SilentListener() {
    closeListener();
    if (filler_ >= 0) close(filler_);
  }

  int port() const { return port_; }

  // True when a connect attempt gets no answer within 300 ms.
  bool silent() const {
    if (port_ <= 0) return false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    pollfd p{fd, POLLOUT, 0};
    const bool quiet = poll(&p, 1, 300) == 0;
    close(fd);
    return quiet;
  }

  // Lets pending connects fail fast: their next SYN is answered with a reset.
  void closeListener() {
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }

 private:
  int listener_ = -1;
  int filler_ = -1;
  int port_ = -1;
};

TEST_F(RedisClientTest, TimeoutAlsoBoundsConnect) {
  SilentListener silent;
  if (!silent.silent()) GTEST_SKIP() << "this kernel answers connects to a full backlog";
  startServers(1);
  writeSettings("[Format]\nOvertimeUsec=500000\n" +
                loopbackSection("Master", {silent.port(), port(0)}));
  RedisClient client;
  const Clock::time_point start = Clock::now();
  std::future<int> done = std::async(std::launch::async, [&client] { return client.connectRead(); });
  if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    silent.closeListener();  // unblocks the connect within a few SYN retries
    done.wait();
    FAIL() << "connect to a silent address was not bounded by the time-out";
  }
  const long long ms = msSince(start);
  EXPECT_EQ(1, done.get());
  EXPECT_GE(ms, 450);
  EXPECT_LT(ms, 2500);
  EXPECT_TRUE(connectedTo(client.readConn, server(0)));
}

TEST(SplitTextTest, KeepsInnerEmptyPiecesButNotAnEmptyRest) {
  EXPECT_EQ(Texts({"a", "b"}), RedisClient::splitText("a:b", ":"));
  EXPECT_EQ(Texts({"a"}), RedisClient::splitText("a:", ":"));
  EXPECT_EQ(Texts({"", "b"}), RedisClient::splitText(":b", ":"));
  EXPECT_EQ(Texts(), RedisClient::splitText("", ":"));
  EXPECT_EQ(Texts({"a", "", "b"}), RedisClient::splitText("a::b", ":"));
  EXPECT_EQ(Texts({"127.0.0.1", "6379"}), RedisClient::splitText("127.0.0.1<>6379", "<>"));
}

TEST_F(RedisClientTest, CopiesOnNeighbouringHostNamesReadFromDifferentSlaves) {
  startServers(3);  // 0: master, 1 and 2: slaves
  const std::string text1 = "127.0.0.1:" + std::to_string(port(1));
  const std::string text2 = "127.0.0.1:" + std::to_string(port(2));
  // List the slaves against their sorted order, so list order cannot be what spreads.
  const bool oneFirst = text1 < text2;
  const std::size_t low = oneFirst ? 1 : 2;
  const std::size_t high = oneFirst ? 2 : 1;
  writeSettings("[ConnectionMode]\nMode=2\n" + loopbackSection("Master", {port(0)}) +
                loopbackSection("Slave", {port(high), port(low)}));

  RedisClient first;
  first.readOffset = readSpreadFor("host1");
  RedisClient second;
  second.readOffset = readSpreadFor("host2");
  ASSERT_EQ(1, first.connectRead());
  ASSERT_EQ(1, second.connectRead());
  const std::size_t firstSlave = connectedTo(first.readConn, server(low)) ? low : high;
  const std::size_t secondSlave = connectedTo(second.readConn, server(low)) ? low : high;
  EXPECT_TRUE(connectedTo(first.readConn, server(firstSlave)));
  EXPECT_TRUE(connectedTo(second.readConn, server(secondSlave)));
  EXPECT_NE(firstSlave, secondSlave);
  EXPECT_EQ(0, clientCount(server(0)));
  RedisClient plain;  // without an offset the list order holds
  ASSERT_EQ(1, plain.connectRead());
  EXPECT_TRUE(connectedTo(plain.readConn, server(high)));

  // Losing its slave moves a copy to the other one, not to the master.
  server(firstSlave).stop();
  ASSERT_EQ(1, first.connectRead());
  EXPECT_TRUE(connectedTo(first.readConn, server(secondSlave)));
  EXPECT_EQ(0, clientCount(server(0)));
}

}  // namespace
