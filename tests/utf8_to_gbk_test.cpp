// The run-log copy of descriptions: UTF-8 to GBK, with "?" for what cannot be said.
#include "convert/utf8_to_gbk.h"

#include <gtest/gtest.h>

#include <string>

TEST(Utf8ToGbkTest, AsciiAndChineseConvert) {
  Utf8ToGbk toGbk;
  EXPECT_EQ("Breaker 12 closed", toGbk.convert("Breaker 12 closed"));
  EXPECT_EQ("", toGbk.convert(""));
  // "断路器12合闸", then the euro sign, which GBK holds as 0x80.
  EXPECT_EQ("\xB6\xCF\xC2\xB7\xC6\xF7" "12" "\xBA\xCF\xD5\xA2" "\x80",
            toGbk.convert("\xE6\x96\xAD\xE8\xB7\xAF\xE5\x99\xA8" "12"
                          "\xE5\x90\x88\xE9\x97\xB8" "\xE2\x82\xAC"));
}

TEST(Utf8ToGbkTest, InvalidBytesAndMissingCharactersBecomeQuestionMarks) {
  Utf8ToGbk toGbk;
  // Stray continuation byte, GBK bytes (not UTF-8), a truncated sequence before ASCII.
  EXPECT_EQ("a?b", toGbk.convert("a\x80" "b"));
  EXPECT_EQ("??", toGbk.convert("\xB3\xB5"));
  EXPECT_EQ("x?y", toGbk.convert("x\xE6\x96y"));
  EXPECT_EQ("?", toGbk.convert("\xE6\x96"));
  // Encoded surrogate and overlong form are ill-formed: one "?" per bad byte here.
  EXPECT_EQ("???", toGbk.convert("\xED\xA0\x80"));
  EXPECT_EQ("??", toGbk.convert("\xC0\xAF"));
  // Thai letter and an emoji have no GBK code; the Chinese around them stays.
  EXPECT_EQ("?\xB3\xB5?", toGbk.convert("\xE0\xB8\x81\xE8\xBD\xA6\xF0\x9F\x98\x80"));
}

TEST(Utf8ToGbkTest, TextEndsAtFirstNul) {
  Utf8ToGbk toGbk;
  EXPECT_EQ("ab", toGbk.convert(std::string("ab\0cd", 5)));
  EXPECT_EQ("\xB3\xB5", toGbk.convert(std::string("\xE8\xBD\xA6\0\xE8\xBD\xA6", 7)));
}
