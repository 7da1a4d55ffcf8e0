#include "common/text_helpers.h"

#include <gtest/gtest.h>

#include "common/utf.h"

namespace {

TextList Split(const std::string& text) {
  TextList list{"left over"};
  SplitText(text, ",", &list);
  return list;
}

TEST(SplitText, PiecesBetweenCommas) {
  EXPECT_EQ(Split("A,B"), (TextList{"A", "B"}));
  EXPECT_EQ(Split("A,B,"), (TextList{"A", "B"}));
  EXPECT_EQ(Split("A,,B"), (TextList{"A", "", "B"}));
  EXPECT_EQ(Split(",A"), (TextList{"", "A"}));
  EXPECT_EQ(Split(","), (TextList{""}));
  EXPECT_EQ(Split(" a , b "), (TextList{" a ", " b "}));
  EXPECT_TRUE(Split("").empty());  // and the earlier content is gone
}

TEST(StartsWithAny, PrefixRules) {
  EXPECT_TRUE(StartsWithAny(0, {}, ""));
  EXPECT_TRUE(StartsWithAny(0, {}, "anything"));
  TextList prefixes{"AI", "TT"};
  EXPECT_TRUE(StartsWithAny(2, prefixes, "AI1"));
  EXPECT_TRUE(StartsWithAny(2, prefixes, "TT"));
  EXPECT_FALSE(StartsWithAny(2, prefixes, "XAI"));
  EXPECT_FALSE(StartsWithAny(2, prefixes, "ai1"));
  EXPECT_FALSE(StartsWithAny(1, prefixes, "TT5"));  // only the first count prefixes
  EXPECT_TRUE(StartsWithAny(1, TextList{""}, "x"));
  EXPECT_FALSE(StartsWithAny(1, TextList{"AB"}, "A"));
}

TEST(Md5Hex, Rfc1321Suite) {
  DigestFunctions digest;
  const std::pair<const char*, const char*> cases[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"a", "0CC175B9C0F1B6A831C399E269772661"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "D174AB98D277D9F5A5611C2C9F419D9F"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Md5Hex(&digest, text), expected) << text;
  }
  EXPECT_NE(digest.init, nullptr);
}

TEST(Time, NowMillisecondsIsEpochMilliseconds) {
  int64_t now = NowMilliseconds();
  EXPECT_GT(now, 1700000000000LL);
  EXPECT_LT(now, 4102444800000LL);
}

TEST(Time, FormatLocalTime) {
  std::string text = FormatLocalTime(NowMilliseconds(), "");
  ASSERT_EQ(text.size(), 19u) << text;
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[7], '-');
  EXPECT_EQ(text[10], ' ');
  EXPECT_EQ(text[13], ':');
  EXPECT_EQ(text[16], ':');
  std::string year = FormatLocalTime(NowMilliseconds(), "%Y");
  EXPECT_EQ(year, text.substr(0, 4));
  // 2001-09-09 01:46:40 UTC is in 2001 in every time zone.
  EXPECT_EQ(FormatLocalTime(1000000000000LL, "%Y"), "2001");
  // Rejected by the conversion: the empty text, not garbage.
  EXPECT_EQ(FormatLocalTime(-86400000LL * 400, ""), "");
  EXPECT_EQ(FormatLocalTime(INT64_MAX, "%Y"), "");
}

TEST(JsonEscape, QuotesBackslashesAndControls) {
  EXPECT_EQ(JsonEscape("plain"), "plain");
  EXPECT_EQ(JsonEscape("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(JsonEscape("x\ny\tz\x01"), "x\\ny\\tz\\u0001");
  EXPECT_EQ(JsonEscape("\xC3\xA4"), "\xC3\xA4");  // non-ASCII bytes pass unchanged
}

TEST(Utf, RoundTripAndMalformedInput) {
  std::string text = "a\xC3\xA4\xE4\xB8\xAD\xF0\x9F\x98\x80";
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0x00E4, 0x4E2D, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), std::u16string(1, 0xFFFD));  // truncated at the end
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xD800)), "\xEF\xBF\xBD");
}

}  // namespace
