// MessageScanner: the texts it lets through and the member texts it keeps, against
// JsonCpp's reading of the same texts (MessageReader + memberText) and against the
// values the conversion relies on.
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "convert/message_reader.h"
#include "convert/message_scanner.h"
#include "convert/record_fields.h"

namespace {

using Outcome = MessageScanner::Outcome;

std::string nested(int levels, const std::string& inner) {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

// The member texts of element `i` of the last read, in member order.
std::vector<std::string> texts(const MessageScanner& s, std::size_t i) {
  const MessageScanner::Record& r = s.record(i);
  return std::vector<std::string>(r.text, r.text + MessageScanner::kMemberCount);
}

TEST(MessageScannerTest, AgreesWithJsonCppOnOddTexts) {
  const std::vector<std::string> cases = {
      "", " ", "[", "]", "[]", " \t\r\n[ ]\n", "{}", "{ }", "\"x\"", "42", "null",
      "[1,]", "[,1]", "[1 2]", "[{\"a\":1,}]", "[{\"\":1,}]", "[{\"a\":1,\"\":2,}]",
      "[{\"a\"}]", "[{\"a\":}]", "[{1:2}]", "[tru]", "[true,false,null]",
      "[-]", "[1.]", "[-.5]", "[1.e5]", "[00]", "[01]", "[-01]", "[1e]", "[1e+]",
      "[1e400]", "[-1e400]", "[1e-400]", "[.5]", "[+1]", "[0x10]",
      "[{\"occurms\":-0}]", "[{\"occurms\":1.5}]", "[{\"occurms\":1E2}]",
      "[{\"occurms\":0.1}]", "[{\"occurms\":-0.0}]", "[{\"occurms\":123456789012345678901}]",
      "[{\"occurms\":18446744073709551615}]", "[{\"occurms\":18446744073709551616}]",
      "[{\"occurms\":-9223372036854775808}]", "[{\"occurms\":-9223372036854775809}]",
      "[{\"occurms\":2147483648}]", "[{\"occurms\":0000000000000000000000018446744073709551615}]",
      "[\"a\\u0000b\"]", "[{\"chardesc\":\"a\\u0000b\"}]",
      "[{\"chardesc\":\"\\ud83d\\ude00\"}]", "[{\"chardesc\":\"\\ud800\\u0041\"}]",
      "[{\"chardesc\":\"\\ud800\"}]", "[{\"chardesc\":\"\\ud800x\"}]", "[{\"chardesc\":\"\\udc00\"}]",
      "[{\"chardesc\":\"\\ud800\\\\u0041\"}]", "[{\"chardesc\":\"\\u12\"}]",
      "[{\"chardesc\":\"\\u12G4\"}]", "[{\"chardesc\":\"\\x\"}]", "[\"\\", "[\"abc",
      "[{\"chardesc\":\"tab\there\x01\"}]", "[{\"chardesc\":\"\xff\xfe\xc0\x80\"}]",
      std::string("[{\"chardesc\":\"nul\0in\"}]", 22), std::string("[1\0]", 4),
      std::string("[1]\0", 4), "[1] trailing [", "[1] \"open", "[1] // c", "[1 /* c */]",
      "[\"a/b\"]", "[\"\\\"/\"]", "[{\"classname\":\"A\",\"classname\":\"Control\"}]",
      "[{\"classname\":\"Control\",\"classname\":{}}]", "[{\"class\\u006eame\":\"Control\"}]",
      std::string("[{\"classname\\u0000\":\"Control\"}]"), "[{\"x\":{\"classname\":\"Control\"}}]",
      "[{\"userattr[0]\":[\"op\"],\"userattr[1]\":true,\"groupname\":null}]",
      "{\"classname\":\"Control\"}", "[[{\"classname\":\"Control\"}],1,\"s\",{}]",
      nested(1000, ""), nested(1000, "1"), nested(999, "1"), nested(1001, ""),
      std::string(5000, '['), "[" + nested(999, "{}") + "]",
  };
  MessageReader reader;
  MessageScanner scanner;
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 80));
    Json::Value root;
    const Outcome expected = !reader.parse(text, &root) ? Outcome::kRefused
                             : root.isArray()           ? Outcome::kArray
                                                        : Outcome::kNotArray;
    ASSERT_EQ(expected, scanner.read(text));
    if (expected != Outcome::kArray) continue;
    ASSERT_EQ(root.size(), scanner.recordCount());
    for (Json::ArrayIndex i = 0; i < root.size(); ++i) {
      ASSERT_EQ(root[i].isObject(), scanner.record(i).isObject);
      if (!root[i].isObject()) continue;
      for (int m = 0; m < MessageScanner::kMemberCount; ++m) {
        const auto member = static_cast<MessageScanner::Member>(m);
        EXPECT_EQ(memberText(root[i], MessageScanner::memberName(member)),
                  scanner.record(i).text[m])
            << MessageScanner::memberName(member);
      }
    }
  }
}

TEST(MessageScannerTest, KeepsTheMembersTheConversionReads) {
  MessageScanner s;
  ASSERT_EQ(Outcome::kArray,
            s.read("[{\"groupname\":\"ST07\",\"userattr[1]\":\"WS05\",\"userattr[0]\":\"op01\","
                   "\"chardesc\":\"a\\\"b\\u00e9\",\"appsysid\":3,\"devicekey\":\"DEV\","
                   "\"occurms\":2.5,\"occurtime\":\"1709629622\",\"classname\":\"Control\","
                   "\"pointname\":\"x\"},7]"));
  ASSERT_EQ(2u, s.recordCount());
  EXPECT_EQ((std::vector<std::string>{"Control", "1709629622", "2.5", "DEV", "3",
                                      "a\"b\xC3\xA9", "op01", "WS05", "ST07"}),
            texts(s, 0));
  EXPECT_FALSE(s.record(1).isObject);

  // Numbers print as JsonCpp prints them; the last of duplicate members counts.
  ASSERT_EQ(Outcome::kArray,
            s.read("[{\"classname\":-0,\"occurtime\":1E2,\"occurms\":18446744073709551616,"
                   "\"devicekey\":\"x\",\"devicekey\":[1],\"appsysid\":[],\"appsysid\":01}]"));
  EXPECT_EQ((std::vector<std::string>{"0", "100.0", "1.8446744073709552e+19", "", "1", "", "",
                                      "", ""}),
            texts(s, 0));
}

TEST(MessageScannerTest, NothingCarriesOverBetweenTexts) {
  MessageScanner s;
  ASSERT_EQ(Outcome::kArray,
            s.read("[{\"classname\":\"Control\",\"groupname\":\"ST07\"},{\"classname\":\"B\"}]"));
  ASSERT_EQ(2u, s.recordCount());
  ASSERT_EQ(Outcome::kArray, s.read("[{\"occurms\":\"1\"}]"));
  ASSERT_EQ(1u, s.recordCount());
  EXPECT_EQ((std::vector<std::string>{"", "", "1", "", "", "", "", "", ""}), texts(s, 0));

  // A text refused halfway leaves no records behind.
  EXPECT_EQ(Outcome::kRefused, s.read("[{\"classname\":\"Control\"},{\"classname\":}]"));
  EXPECT_EQ(0u, s.recordCount());
  EXPECT_EQ(Outcome::kNotArray, s.read("{\"classname\":\"Control\"}"));
  EXPECT_EQ(0u, s.recordCount());
}

}  // namespace
