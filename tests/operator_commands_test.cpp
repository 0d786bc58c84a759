// tarvex --status, --deadletters and --redrive on the real binary: durable hosts in
// their own namespaces, a real redis-server and a real receiver.
#include <json/json.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "host/messages.h"
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/redis_server_process.h"
#include "tests/support/tarvex_instance.h"
#include "tests/support/test_env.h"

namespace {

constexpr int kWaitMs = 30000;     // bound of a wait for the service to react
constexpr int kCommandMs = 20000;  // bound of one operator command

std::string controlText(const std::string& key) {
  return "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\",\"occurms\":\"250\","
         "\"devicekey\":\"" +
         key +
         "\",\"appsysid\":\"3\",\"chardesc\":\"closed\","
         "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]";
}

// One host with its own root; durable delivery on unless asked otherwise.
class Host {
 public:
  Host(const std::string& name, int redisPort, const std::string& url, bool durable = true)
      : instance_(root_.path(), name) {
    root_.writeCfg("rdsset.ini",
                   "[ConnectionMode]\nMode=1\n[ConnectionMaster]\nMasterNum=1\nMasterIp0=127.0.0.1"
                   "\nMasterPort0=" +
                       std::to_string(redisPort) + "\n[Format]\nOvertimeSec=2\n");
    root_.writeCfg("logsynset.ini",
                   "[synLogFlag]\nFlag=1\n[tovraurl]\nurl=" + url +
                       "\n[appSysId]\nappsysidnum=1\nappsysid0=3\nappsysiddesc0=Power\n"
                       "[stationInfo]\nstationnum=1\nstationlindid0=L2\nstationid0=S07\n"
                       "stationlinddesc0=Line 2\nstationdesc0=Station 7\nstationcode0=ST07\n");
    root_.writeCfg("tarvex.ini", std::string("[Durable]\nDurable=") + (durable ? "1" : "0") + "\n");
  }
  bool start() { return instance_.start({"-self"}); }
  void kill() { instance_.kill(); }
  bool waitOwner() const {
    return waitUntil([&] { return readFile(root_.logPath()).find(kOwnLine) != std::string::npos; },
                     kWaitMs, 50);
  }
  // Runs `tarvex args...` against this host's configuration; output in *out.
  int run(const std::vector<std::string>& args, std::string* out) const {
    std::vector<std::string> argv = {"env", "ZQROOT=" + root_.path(), TARVEX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, kCommandMs, out);
  }

 private:
  TempRoot root_;
  TarvexInstance instance_;
};

class OperatorCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!canUseNamespaces()) GTEST_SKIP() << "needs root and unshare -u -m";
    ASSERT_TRUE(redis_.start());
    ASSERT_TRUE(receiver_.start());
  }
  std::string cli(const std::vector<std::string>& args) { return redis_.cli(args); }
  bool copyShows(const std::string& host, const std::string& role) {
    return cli({"HGET", "tarvex:copy:" + host, "role"}) == role &&
           cli({"HGET", "tarvex:copy:" + host, "subscribed"}) == "1";
  }
  std::vector<std::string> deadLetterIds() {
    std::vector<std::string> ids;
    const std::string out = cli({"XRANGE", "tarvex:deadletter", "-", "+"});
    static const std::regex id("^[0-9]+-[0-9]+$");
    std::size_t at = 0;
    while (at < out.size()) {
      std::size_t end = out.find('\n', at);
      if (end == std::string::npos) end = out.size();
      const std::string line = out.substr(at, end - at);
      if (std::regex_match(line, id)) ids.push_back(line);
      at = end + 1;
    }
    return ids;
  }
  // Receiver requests from the `first`th on that carried the record of `key`.
  int postedTimes(const std::string& key, std::size_t first) {
    const std::vector<HttpTestServer::Request> all = receiver_.requests();
    int n = 0;
    for (std::size_t i = first; i < all.size(); ++i) {
      if (all[i].body.find("\"guid\":\"1709629622:250:" + key + ":") != std::string::npos) ++n;
    }
    return n;
  }

  RedisServerProcess redis_;
  HttpTestServer receiver_;
};

TEST_F(OperatorCommandsTest, StatusShowsOwnerAndStandbyThenTheDeadOwnersStillHeartbeat) {
  Host a("opsOwner", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(a.waitOwner());
  Host b("opsStandby", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(waitUntil(
      [&] { return copyShows("opsOwner", "owner") && copyShows("opsStandby", "standby"); }, kWaitMs,
      100));
  const int ttl = std::atoi(cli({"TTL", "tarvex:copy:opsStandby"}).c_str());
  EXPECT_GT(ttl, 40);
  EXPECT_LE(ttl, 60);

  std::string out;
  ASSERT_EQ(b.run({"--status"}, &out), 0) << out;
  EXPECT_TRUE(std::regex_search(
      out,
      std::regex(
          "^owner         opsOwner, heartbeat moving \\(written [0-9] s ago\\)\n"
          "copies        2 reported in the last minute\n"
          "              HOST        ROLE     SUBSCRIBED  VERSION  UP +LAST REPORT\n"
          "              opsOwner    owner    yes         1\\.0\\.0    [0-9]+ s +[0-9]+ s ago\n"
          "              opsStandby  standby  yes         1\\.0\\.0    [0-9]+ s +[0-9]+ s ago\n"
          "backlog       0 entries kept: 0 unread, 0 pending\n"
          "dead letters  none\n"
          "gaps          none reported in the last hour\n$")))
      << out;

  ASSERT_EQ(a.run({"--status", "--json"}, &out), 0) << out;
  Json::Value root;
  ASSERT_TRUE(Json::Reader().parse(out, root)) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line: " << out;
  EXPECT_TRUE(root["ok"].asBool());
  EXPECT_EQ(root["owner"]["host"].asString(), "opsOwner");
  EXPECT_TRUE(root["owner"]["moving"].asBool());
  ASSERT_EQ(root["copies"].size(), 2u) << out;
  EXPECT_EQ(root["copies"][0]["role"].asString() + " " + root["copies"][1]["role"].asString(),
            "owner standby");
  EXPECT_EQ(root["backlog"]["pending"].asInt(), 0);
  EXPECT_EQ(root["dead_letters"]["count"].asInt(), 0);

  // A dead owner leaves its hash behind: the heartbeat stands still, exit status 1.
  a.kill();
  ASSERT_EQ(b.run({"--status"}, &out), 1) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("^owner         opsOwner, heartbeat STILL for 4 s "
                                                "\\(written [0-9] s ago\\)\n")))
      << out;
  ASSERT_EQ(b.run({"--status", "--json"}, &out), 1) << out;
  ASSERT_TRUE(Json::Reader().parse(out, root)) << out;
  EXPECT_FALSE(root["ok"].asBool());
  EXPECT_FALSE(root["owner"]["moving"].asBool());
}

TEST_F(OperatorCommandsTest, RejectedTextsAreListedAndRedrivenOneThenAllAfterADryRun) {
  receiver_.setReply(400, "bad record\r\nfield x");
  Host a("opsDead", redis_.port(), receiver_.url("/log"));
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(a.waitOwner());
  ASSERT_TRUE(waitUntil([&] { return copyShows("opsDead", "owner"); }, kWaitMs, 100));
  cli({"PUBLISH", "almTopic", controlText("P0")});
  cli({"PUBLISH", "almTopic", controlText("P1")});
  ASSERT_TRUE(waitUntil([&] { return deadLetterIds().size() == 2; }, kWaitMs, 100));
  const std::vector<std::string> ids = deadLetterIds();
  receiver_.setReply(200, "ok");
  const std::size_t rejected = receiver_.requests().size();

  std::string out;
  ASSERT_EQ(a.run({"--deadletters", "1"}, &out), 0) << out;
  EXPECT_TRUE(std::regex_match(
      out, std::regex("2 dead letters; the newest 1, newest first:\n" + ids[1] +
                      "  [0-9: -]{19}  status 400  reply: bad record  field x\n"
                      " {" +
                      std::to_string(ids[1].size()) + "}  guid: 1709629622:250:P1:Control\n")))
      << out;

  ASSERT_EQ(a.run({"--redrive", "--all", "--dry-run"}, &out), 0) << out;
  EXPECT_NE(out.find("would move " + ids[0] + "  "), std::string::npos) << out;
  EXPECT_NE(out.find("would move " + ids[1] + "  "), std::string::npos) << out;
  EXPECT_NE(out.find("\n2 dead letters would move to tarvex:capture (dry run: nothing moved)\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(deadLetterIds(), ids);

  // One entry: it leaves the dead letters and reaches the receiver, although its
  // text was captured (and marked seen) moments ago.
  ASSERT_EQ(a.run({"--redrive", ids[0], "1-0"}, &out), 0) << out;
  EXPECT_EQ(out, "moved " + ids[0] +
                     "\nno dead letter 1-0\n1 dead letter moved to tarvex:capture, 1 not found\n");
  EXPECT_EQ(deadLetterIds(), std::vector<std::string>{ids[1]});
  ASSERT_TRUE(waitUntil([&] { return postedTimes("P0", rejected) == 1; }, kWaitMs, 100));

  ASSERT_EQ(a.run({"--redrive", "--all"}, &out), 0) << out;
  EXPECT_EQ(out, "moved " + ids[1] + "\n1 dead letter moved to tarvex:capture\n");
  ASSERT_TRUE(waitUntil([&] { return postedTimes("P1", rejected) == 1; }, kWaitMs, 100));
  EXPECT_TRUE(deadLetterIds().empty());
  ASSERT_EQ(a.run({"--deadletters"}, &out), 0) << out;
  EXPECT_EQ(out, "no dead letters\n");
  ASSERT_EQ(a.run({"--redrive", "12"}, &out), 1) << out;
}

TEST_F(OperatorCommandsTest, DurableOffRefusesDeadLettersAndStatusShowsOnlyTheOwner) {
  Host a("opsMemory", redis_.port(), receiver_.url("/log"), false);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(a.waitOwner());
  const std::string off =
      "durable delivery is off (Durable=1 is not set in cfg/tarvex.ini): there are no dead "
      "letters\n";
  std::string out;
  EXPECT_EQ(a.run({"--deadletters"}, &out), 1);
  EXPECT_EQ(out, off);
  EXPECT_EQ(a.run({"--redrive", "--all"}, &out), 1);
  EXPECT_EQ(out, off);
  ASSERT_EQ(a.run({"--status"}, &out), 0) << out;
  EXPECT_TRUE(std::regex_match(
      out, std::regex("owner         opsMemory, heartbeat moving \\(written [0-9] s ago\\)\n"
                      "durable       off \\(Durable=1 is not set in cfg/tarvex.ini\\): "
                      "no copies, backlog or dead letters are kept in Redis\n")))
      << out;
  EXPECT_EQ(cli({"KEYS", "tarvex:*"}), "");
}

}  // namespace
