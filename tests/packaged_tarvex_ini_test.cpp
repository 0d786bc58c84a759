// The packaged examples/cfg/tarvex.ini: installing it changes nothing, and it
// names every key the service reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ini_keys.h"
#include "config/tarvex_options.h"
#include "tests/support/test_env.h"

namespace {

TEST(PackagedTarvexIni, DocumentsEveryKeyAndSetsNone) {
  const std::string text = readFile(std::string(TARVEX_SOURCE_DIR) + "/examples/cfg/tarvex.ini");
  const std::vector<KnownIniKey>* keys = knownIniKeys(kOptionsFile);
  ASSERT_NE(nullptr, keys);
  ASSERT_EQ(16u, keys->size());
  for (const KnownIniKey& known : *keys) {
    const std::string key = known.indexed ? iniIndexedKey(known.name, 0) : known.name;
    EXPECT_NE(std::string::npos, text.find("\n# " + key + "=")) << key;
  }

  TempRoot root;
  root.writeCfg("tarvex.ini", text);
  TarvexOptions loaded;
  ASSERT_TRUE(loaded.load());
  const TarvexOptions defaults;
  EXPECT_EQ(defaults.redisUser, loaded.redisUser);
  EXPECT_EQ(defaults.redisPassword, loaded.redisPassword);
  EXPECT_EQ(defaults.sentinelUser, loaded.sentinelUser);
  EXPECT_EQ(defaults.sentinelPassword, loaded.sentinelPassword);
  EXPECT_EQ(defaults.caFile, loaded.caFile);
  EXPECT_EQ(defaults.clientCertFile, loaded.clientCertFile);
  EXPECT_EQ(defaults.clientKeyFile, loaded.clientKeyFile);
  EXPECT_EQ(defaults.extraHeaders, loaded.extraHeaders);
  EXPECT_EQ(defaults.keepAlive, loaded.keepAlive);
  EXPECT_EQ(defaults.durable, loaded.durable);
  EXPECT_EQ(defaults.streamMaxLen, loaded.streamMaxLen);
  EXPECT_EQ(defaults.retryMaxSeconds, loaded.retryMaxSeconds);
  EXPECT_EQ(defaults.deadLetterMaxLen, loaded.deadLetterMaxLen);
  EXPECT_EQ(defaults.statusListen, loaded.statusListen);
  EXPECT_EQ(10, loaded.stopHandoverSeconds);
}

}  // namespace
