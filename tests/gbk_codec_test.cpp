// Both directions of the GBK codec: the run-log copy of descriptions (UTF-8 to GBK)
// and logsynset.ini texts shown by the check (GBK to UTF-8), "?" for what cannot be said.
#include "convert/gbk_codec.h"

#include <gtest/gtest.h>

#include <string>

TEST(GbkCodecTest, AsciiAndChineseConvert) {
  GbkCodec codec;
  EXPECT_EQ("Breaker 12 closed", codec.toGbk("Breaker 12 closed"));
  EXPECT_EQ("", codec.toGbk(""));
  // "断路器12合闸", then the euro sign, which GBK holds as 0x80.
  EXPECT_EQ("\xB6\xCF\xC2\xB7\xC6\xF7" "12" "\xBA\xCF\xD5\xA2" "\x80",
            codec.toGbk("\xE6\x96\xAD\xE8\xB7\xAF\xE5\x99\xA8" "12"
                        "\xE5\x90\x88\xE9\x97\xB8" "\xE2\x82\xAC"));
}

TEST(GbkCodecTest, InvalidBytesAndMissingCharactersBecomeQuestionMarks) {
  GbkCodec codec;
  // Stray continuation byte, GBK bytes (not UTF-8), a truncated sequence before ASCII.
  EXPECT_EQ("a?b", codec.toGbk("a\x80" "b"));
  EXPECT_EQ("??", codec.toGbk("\xB3\xB5"));
  EXPECT_EQ("x?y", codec.toGbk("x\xE6\x96y"));
  EXPECT_EQ("?", codec.toGbk("\xE6\x96"));
  // Encoded surrogate and overlong form are ill-formed: one "?" per bad byte here.
  EXPECT_EQ("???", codec.toGbk("\xED\xA0\x80"));
  EXPECT_EQ("??", codec.toGbk("\xC0\xAF"));
  // Thai letter and an emoji have no GBK code; the Chinese around them stays.
  EXPECT_EQ("?\xB3\xB5?", codec.toGbk("\xE0\xB8\x81\xE8\xBD\xA6\xF0\x9F\x98\x80"));
}

TEST(GbkCodecTest, TextEndsAtFirstNul) {
  GbkCodec codec;
  EXPECT_EQ("ab", codec.toGbk(std::string("ab\0cd", 5)));
  EXPECT_EQ("\xB3\xB5", codec.toGbk(std::string("\xE8\xBD\xA6\0\xE8\xBD\xA6", 7)));
}

TEST(GbkCodecTest, GbkTextsReadBackAsUtf8) {
  GbkCodec codec;
  EXPECT_EQ("Breaker 12", codec.toUtf8("Breaker 12"));
  // "北京" and the euro sign; the same object also converts the other way.
  EXPECT_EQ("\xE5\x8C\x97\xE4\xBA\xAC" "\xE2\x82\xAC", codec.toUtf8("\xB1\xB1\xBE\xA9" "\x80"));
  EXPECT_EQ("\xB1\xB1", codec.toGbk("\xE5\x8C\x97"));
  // 0xFF starts no GBK character; a lead byte cut off at the end; a NUL is kept.
  EXPECT_EQ("a?\xE5\x8C\x97", codec.toUtf8("a\xFF\xB1\xB1"));
  EXPECT_EQ("x?", codec.toUtf8("x\xB1"));
  EXPECT_EQ(std::string("\xE5\x8C\x97\0z", 5), codec.toUtf8(std::string("\xB1\xB1\0z", 4)));
}
