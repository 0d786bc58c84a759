// The JSON string writer shared by the document and /health: control bytes are
// escaped, never dropped, and every other byte is kept.
#include "convert/json_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(JsonTextTest, ControlBytesAreEscapedNotDropped) {
  EXPECT_EQ("\"a\\u0001b\\u001fc\\u001b[0m\"", jsonString("a\x01" "b\x1f" "c\x1b[0m"));
  EXPECT_EQ("\"\\u0000\\b\\f\\n\\r\\t\\u000b\"", jsonString(std::string("\0\b\f\n\r\t\v", 7)));
}

TEST(JsonTextTest, QuoteAndBackslashEscapedOtherBytesKept) {
  EXPECT_EQ("\"say \\\"hi\\\" C:\\\\x \x7f\xB1\xB1\xBE\xA9\xE4\xB8\x80\"",
            jsonString("say \"hi\" C:\\x \x7f\xB1\xB1\xBE\xA9\xE4\xB8\x80"));
  std::string out = "[";
  appendJsonString("", &out);
  EXPECT_EQ("[\"\"", out);
}
