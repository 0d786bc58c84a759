#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "config/config_path.h"
#include "config/redis_settings.h"
#include "config/sync_config.h"
#include "config/tarvex_options.h"
#include "host/run_log.h"
#include "tests/support/test_env.h"

namespace {

class IniReaderTest : public ::testing::Test {
 protected:
  // Writes cfg/test.ini and returns a lookup result as a std::string.
  std::string lookup(const std::string& content, const char* section, const char* key,
                     const char* def = "DEF") {
    root_.writeCfg("test.ini", content);
    IniReader reader("test.ini");
    return reader.readString(section, key, def);
  }
  int32_t number(const std::string& value) {
    root_.writeCfg("num.ini", "[n]\nv=" + value + "\n");
    IniReader reader("num.ini");
    return iniInt32(reader.readNumber("n", "v", "77"));
  }
  TempRoot root_;
};

TEST_F(IniReaderTest, LastLineWithoutLineFeedIsRead) {
  EXPECT_EQ(lookup("[s]\na=1\nb=2", "s", "b"), "2");
}

TEST_F(IniReaderTest, HeaderWithTrailingTextOpensSection) {
  EXPECT_EQ(lookup("[s] ; main section\nk=v\n", "s", "k"), "v");
}

TEST_F(IniReaderTest, HeaderMustStartInFirstColumnAndMatchCase) {
  EXPECT_EQ(lookup(" [s]\nk=v\n", "s", "k"), "DEF");
  EXPECT_EQ(lookup("[S]\nk=v\n", "s", "k"), "DEF");
}

TEST_F(IniReaderTest, LineWithEqualsIsNeverAHeader) {
  EXPECT_EQ(lookup("[s]=x\nk=v\n", "s", "k"), "DEF");
}

TEST_F(IniReaderTest, KeyNamesAreCaseSensitive) {
  EXPECT_EQ(lookup("[s]\nKey=v\n", "s", "key"), "DEF");
}

TEST_F(IniReaderTest, FirstOfTwoEqualKeysWins) {
  EXPECT_EQ(lookup("[s]\nk=first\nk=second\n", "s", "k"), "first");
}

TEST_F(IniReaderTest, KeyUnderLaterSectionIsFound) {
  // The section stays open once seen: a later header does not close it.
  EXPECT_EQ(lookup("[s]\na=1\n[t]\nk=late\n", "s", "k"), "late");
}

TEST_F(IniReaderTest, KeyBeforeHeaderIsNotFound) {
  EXPECT_EQ(lookup("k=early\n[s]\na=1\n", "s", "k"), "DEF");
}

TEST_F(IniReaderTest, CommentOnlyInFirstColumn) {
  EXPECT_EQ(lookup("[s]\n#k=hidden\n//k=hidden\nk=v\n", "s", "k"), "v");
  // A blank before "#" makes it a key line whose name starts with "#".
  EXPECT_EQ(lookup("[s]\n #k=shown\n", "s", "#k"), "shown");
  // A commented header does not open the section.
  EXPECT_EQ(lookup("#[s]\nk=v\n", "s", "k"), "DEF");
}

TEST_F(IniReaderTest, BlanksAndCarriageReturnsTrimmedTabsKept) {
  EXPECT_EQ(lookup("[s]\r\n  k \r = \tv x \r\n", "s", "k"), "\tv x");
  EXPECT_EQ(lookup("[s]\r\nk=v\r\n", "s", "k"), "v");
}

TEST_F(IniReaderTest, ValueKeepsFurtherEqualsAndSlashes) {
  EXPECT_EQ(lookup("[u]\nurl=http://h:8/p?a=1&b=2 # not a comment\n", "u", "url"),
            "http://h:8/p?a=1&b=2 # not a comment");
}

TEST_F(IniReaderTest, EmptyValueIsTheEmptyText) {
  EXPECT_EQ(lookup("[s]\nk=\nk=second\n", "s", "k"), "");
  EXPECT_EQ(lookup("[s]\n=v\nk=x\n", "s", "k"), "x");  // empty name skipped
}

TEST_F(IniReaderTest, GbkBytesPassUnchanged) {
  const std::string gbk = "\xB5\xDA\xD2\xBB\xD5\xBE";
  EXPECT_EQ(lookup("[s]\nk=" + gbk + "\n", "s", "k"), gbk);
}

TEST_F(IniReaderTest, LineOf1023BytesIsReadWhole) {
  std::string value(1023 - 2, 'x');
  EXPECT_EQ(lookup("[s]\nk=" + value + "\n", "s", "k"), value);
}

TEST_F(IniReaderTest, OverlongLineIsCutAndNextLineStillRead) {
  std::string longValue(5000, 'y');
  std::string got = lookup("[s]\nk=" + longValue + "\nnext=ok\n", "s", "k");
  EXPECT_EQ(got, std::string(1021, 'y'));
  EXPECT_EQ(lookup("[s]\nk=" + longValue + "\nnext=ok\n", "s", "next"), "ok");
  // The tail of a cut line never turns into a line of its own.
  EXPECT_EQ(lookup("[s]\nk=" + std::string(1100, 'z') + "tail=bad\n", "s", "tail"), "DEF");
}

TEST_F(IniReaderTest, NumbersTakeAutomaticBase) {
  EXPECT_EQ(number("0x10"), 16);
  EXPECT_EQ(number("0X18EB"), 6379);
  EXPECT_EQ(number("010"), 8);
  EXPECT_EQ(number("06379"), 415);  // the 9 ends the octal digits
  EXPECT_EQ(number("12abc"), 12);
  EXPECT_EQ(number("abc"), 0);
  EXPECT_EQ(number("-1"), -1);
  EXPECT_EQ(number("  42"), 42);
  EXPECT_EQ(number("99999999999999999999999"), -1);  // saturates, low 32 bits
}

TEST_F(IniReaderTest, MissingFileGivesDefaultAndMessage) {
  IniReader reader("absent.ini");
  testing::internal::CaptureStdout();
  EXPECT_STREQ(reader.readString("s", "k", "dflt"), "dflt");
  EXPECT_EQ(reader.readNumber("s", "port", "6379"), 6379u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "have   no   such   file \nhave   no   such   file \n");
}

TEST_F(IniReaderTest, EditedFileIsSeenByNextReader) {
  root_.writeCfg("live.ini", "[s]\nk=1\n");
  IniReader reader("live.ini");
  EXPECT_STREQ(reader.readString("s", "k", ""), "1");
  root_.writeCfg("live.ini", "[s]\nk=2\n");
  IniReader next("live.ini");
  EXPECT_STREQ(next.readString("s", "k", ""), "2");
}

// Answers the reader has always given on the syntax's odd corners; the rows were
// taken from the per-lookup scanner and must hold for any reader of these files.
TEST_F(IniReaderTest, QuirkyFilesGiveTheAnswersTheServiceReliesOn) {
  const std::string longLine(1100, 'x');
  const struct {
    std::string content;
    const char* section;
    const char* key;
    std::string def;
    IniLimits limits;
    std::string expected;
  } rows[] = {
      {"[s]\na=1\n[t]\nk=late\n", "s", "k", "D", kIniClassicLimits, "late"},
      {"[t]\nk=t\n[s]\nk=s\n", "t", "k", "D", kIniClassicLimits, "t"},
      {"[t]\nk=t\n[s]\nk=s\n", "s", "k", "D", kIniClassicLimits, "s"},
      {"[s]\n[t]\nk=1\n[s]\nk=2\n", "s", "k", "D", kIniClassicLimits, "1"},
      {"[s]x\nk=v\n", "s", "k", "D", kIniClassicLimits, "v"},
      {"[sx]\nk=v\n", "s", "k", "D", kIniClassicLimits, "D"},
      {"[s\nk=v\n", "s", "k", "D", kIniClassicLimits, "D"},
      {"[a]b]\nk=v\n", "a]b", "k", "D", kIniClassicLimits, "v"},
      {"//[s]\nk=v\n", "s", "k", "D", kIniClassicLimits, "D"},
      // An "=" beyond the line limit: the reader keeps a header that opens [s].
      {"[s]" + longLine + "=y\nk=v\n", "s", "k", "D", kIniClassicLimits, "v"},
      {"[s]\nk" + std::string(1100, ' ') + "=v\n", "s", "k", "D", kIniClassicLimits, "D"},
      {"[s]\nk=" + longLine + "\n", "s", "k", "D", kIniClassicLimits, longLine.substr(0, 1021)},
      {"[s]\nk=" + std::string(9000, 'v') + "\n", "s", "k", "D", kOptionsIniLimits,
       std::string(8191, 'v')},
      {"[s]\nother=1\n", "s", "k", longLine, kIniClassicLimits, longLine.substr(0, 1023)},
      {"[s]\n=v\n", "s", "", "D", kIniClassicLimits, "D"},
      {"[s]\n k \r= \r\n", "s", "k", "D", kIniClassicLimits, ""},
      {"", "", "k", "D", kIniClassicLimits, "D"},
  };
  for (const auto& row : rows) {
    root_.writeCfg("quirk.ini", row.content);
    IniReader reader("quirk.ini", row.limits);
    EXPECT_EQ(reader.readString(row.section, row.key, row.def.c_str()), row.expected)
        << row.content.substr(0, 40);
  }

  // A missing file: one message on stdout per lookup, so per loader as many as it
  // makes lookups with nothing to count entries from.
  const struct {
    const char* loader;
    std::function<void()> load;
    int messages;
  } loaders[] = {
      {"SyncConfig", [] { SyncConfig config; }, 5},
      {"RedisSettings", [] { RedisSettings().loadSettings(); }, 4},
      {"RunLog", [] { RunLog(1).runLogOn(); }, 1},
      {"TarvexOptions", [] { TarvexOptions().load(); }, 0},
  };
  for (const auto& l : loaders) {
    testing::internal::CaptureStdout();
    l.load();
    std::string out = testing::internal::GetCapturedStdout();
    int messages = 0;
    for (std::size_t at = 0; (at = out.find("have   no   such   file \n", at)) != out.npos; ++at) {
      ++messages;
    }
    EXPECT_EQ(messages, l.messages) << l.loader << ": " << out;
  }
}

class ConfigPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saveVar("ZQROOT", &zq_);
    saveVar("VUVORER", &vu_);
  }
  void TearDown() override {
    restoreVar("ZQROOT", zq_);
    restoreVar("VUVORER", vu_);
  }
  struct Saved {
    bool set = false;
    std::string value;
  };
  static void saveVar(const char* name, Saved* s) {
    const char* v = std::getenv(name);
    s->set = v != nullptr;
    if (v != nullptr) s->value = v;
  }
  static void restoreVar(const char* name, const Saved& s) {
    if (s.set) setenv(name, s.value.c_str(), 1); else unsetenv(name);
  }
  Saved zq_, vu_;
};

TEST_F(ConfigPathTest, ZqrootWinsOverVuvorer) {
  setenv("ZQROOT", "/opt/a", 1);
  setenv("VUVORER", "/opt/b", 1);
  EXPECT_EQ(configPath("rdsset.ini"), "/opt/a/cfg/rdsset.ini");
}

TEST_F(ConfigPathTest, VuvorerUsedWhenZqrootUnset) {
  unsetenv("ZQROOT");
  setenv("VUVORER", "/opt/b", 1);
  EXPECT_EQ(configPath("logsynset.ini"), "/opt/b/cfg/logsynset.ini");
}

TEST_F(ConfigPathTest, NeitherVariableGivesEmptyPath) {
  unsetenv("ZQROOT");
  unsetenv("VUVORER");
  EXPECT_EQ(configPath("rdsset.ini"), "");
  IniReader reader("rdsset.ini");
  testing::internal::CaptureStdout();
  EXPECT_EQ(reader.readNumber("ConnectionMode", "Mode", "1"), 1u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "have   no   such   file \n");
}

TEST_F(ConfigPathTest, EmptyVariableStillCounts) {
  setenv("ZQROOT", "", 1);
  setenv("VUVORER", "/opt/b", 1);
  EXPECT_EQ(configPath("x.ini"), "/cfg/x.ini");
}

TEST_F(ConfigPathTest, OverlongRootIsTreatedAsMissing) {
  std::string root(250, 'r');
  setenv("ZQROOT", ("/" + root).c_str(), 1);
  EXPECT_EQ(configPath("rdsset.ini"), "");
  std::string fits(255 - std::string("/cfg/a").size(), 'r');
  setenv("ZQROOT", fits.c_str(), 1);
  EXPECT_EQ(configPath("a").size(), 255u);
}

}  // namespace
