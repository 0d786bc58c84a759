// The shipped Grafana dashboard and Prometheus alert rules name only metrics, and
// label values, that /metrics really serves.
#include <json/json.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "status/status_view.h"
#include "tests/support/test_env.h"

namespace {

const std::string kMonitoring = std::string(TARVEX_SOURCE_DIR) + "/examples/monitoring/";

// Every PromQL expression of the dashboard, wherever a panel keeps it.
void collectExprs(const Json::Value& v, std::vector<std::string>* out) {
  if (v.isObject()) {
    for (const std::string& name : v.getMemberNames()) {
      if (name == "expr" && v[name].isString()) out->push_back(v[name].asString());
      collectExprs(v[name], out);
    }
  } else if (v.isArray()) {
    for (const Json::Value& e : v) collectExprs(e, out);
  }
}

// The problems of `exprs` against the /metrics text: unknown names, and label
// matchers name="value" that no sample of that name carries.
std::vector<std::string> unknownMetrics(const std::vector<std::string>& exprs) {
  const std::string metrics = renderMetrics();
  std::vector<std::string> problems;
  static const std::regex selector("(tarvex_[a-z0-9_]+)(\\{([^}]*)\\})?");
  static const std::regex matcher("([a-z_]+)=\"([^\"]*)\"");
  for (const std::string& expr : exprs) {
    for (std::sregex_iterator m(expr.begin(), expr.end(), selector), end; m != end; ++m) {
      const std::string name = (*m)[1];
      std::vector<std::string> samples;  // the sample lines of this name
      for (std::size_t at = metrics.find("\n" + name); at != std::string::npos;
           at = metrics.find("\n" + name, at + 1)) {
        const std::string line = metrics.substr(at + 1, metrics.find('\n', at + 1) - at - 1);
        if (line.size() > name.size() && (line[name.size()] == ' ' || line[name.size()] == '{')) {
          samples.push_back(line);
        }
      }
      if (samples.empty()) {
        problems.push_back(name + " (in " + expr + ")");
        continue;
      }
      const std::string labels = (*m)[3];
      for (std::sregex_iterator l(labels.begin(), labels.end(), matcher); l != end; ++l) {
        bool found = false;
        for (const std::string& s : samples) found = found || s.find((*l)[0]) != std::string::npos;
        if (!found) problems.push_back(name + " with " + std::string((*l)[0]));
      }
    }
  }
  return problems;
}

class MonitoringExamplesTest : public ::testing::Test {};

TEST_F(MonitoringExamplesTest, DashboardQueriesOnlyServedMetrics) {
  Json::Value root;
  ASSERT_TRUE(Json::Reader().parse(readFile(kMonitoring + "tarvex-dashboard.json"), root));
  std::vector<std::string> exprs;
  collectExprs(root, &exprs);
  ASSERT_GE(exprs.size(), 15u);
  EXPECT_EQ(unknownMetrics(exprs), std::vector<std::string>{});

  // Every panel the operator needs is there.
  std::set<std::string> used;
  for (const std::string& e : exprs) {
    for (const char* name :
         {"tarvex_role", "tarvex_texts_received_total", "tarvex_replies_total",
          "tarvex_delivery_latency_seconds_bucket", "tarvex_subscription_gaps_total",
          "tarvex_stream_pending_entries", "tarvex_dead_letters"}) {
      if (e.find(name) != std::string::npos) used.insert(name);
    }
  }
  EXPECT_EQ(used.size(), 7u);
}

TEST_F(MonitoringExamplesTest, AlertRulesQueryOnlyServedMetrics) {
  const std::string rules = readFile(kMonitoring + "tarvex-alerts.yml");
  ASSERT_FALSE(rules.empty());
  std::vector<std::string> exprs;
  std::size_t alerts = 0;
  for (std::size_t at = rules.find("expr:"); at != std::string::npos;
       at = rules.find("expr:", at + 1)) {
    exprs.push_back(rules.substr(at, rules.find("labels:", at) - at));
    ++alerts;
  }
  EXPECT_EQ(alerts, 8u);
  EXPECT_EQ(unknownMetrics(exprs), std::vector<std::string>{});
}

}  // namespace
