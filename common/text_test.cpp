#include "common/text.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(TrimBlanks, DropsWhiteSpaceAtBothEndsOnly) {
  EXPECT_EQ(TrimBlanks(" \t a b \r\n\v\f"), "a b");
  EXPECT_EQ(TrimBlanks("a"), "a");
  EXPECT_EQ(TrimBlanks(" \t\r\n"), "");
  EXPECT_EQ(TrimBlanks(""), "");
  EXPECT_EQ(TrimBlanks("\x01x\x01"), "\x01x\x01");  // control bytes are not blanks
}

TEST(AsciiCase, FoldsOnlyAToZ) {
  EXPECT_EQ(AsciiLower("Content-LENGTH 9@[`{"), "content-length 9@[`{");
  EXPECT_EQ(AsciiLower("\xC3\x84"), "\xC3\x84");  // the bytes of a non-ASCII letter stay
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Settings", "sETTINGS"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("Settings", "Setting"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("@", "`"));  // 0x40 and 0x60 differ by the case bit
  EXPECT_TRUE(EqualsIgnoringAsciiCase("", ""));
}

TEST(SplitLines, LineEndsAndEmptyLines) {
  EXPECT_EQ(SplitLines("A\n\nB\n"), (Lines{"A", "", "B"}));
  EXPECT_EQ(SplitLines("A\r\nB"), (Lines{"A", "B"}));
  EXPECT_EQ(SplitLines("A\r\nB\r"), (Lines{"A", "B"}));
  EXPECT_EQ(SplitLines(" A \n"), (Lines{" A "}));
  EXPECT_EQ(SplitLines("A\rB"), (Lines{"A\rB"}));  // a lone carriage return inside is text
  EXPECT_EQ(SplitLines("\n"), (Lines{""}));
  EXPECT_TRUE(SplitLines("").empty());
}

TEST(LeadingInteger, SaturatingHoldsAtTheLimits) {
  EXPECT_EQ(ParseLeadingIntegerSaturating(" \t+42abc"), 42);
  EXPECT_EQ(ParseLeadingIntegerSaturating("-17.9"), -17);
  EXPECT_EQ(ParseLeadingIntegerSaturating("2147483647"), 2147483647);
  EXPECT_EQ(ParseLeadingIntegerSaturating("2147483648"), 2147483647);
  EXPECT_EQ(ParseLeadingIntegerSaturating("99999999999999999999"), 2147483647);
  EXPECT_EQ(ParseLeadingIntegerSaturating("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLeadingIntegerSaturating("-99999999999999999999"), INT32_MIN);
  EXPECT_EQ(ParseLeadingIntegerSaturating("x1"), 0);
  EXPECT_EQ(ParseLeadingIntegerSaturating("- 1"), 0);
  // A control byte is not a blank here.
  EXPECT_EQ(ParseLeadingIntegerSaturating(std::string("\x01") + "5"), 0);
  EXPECT_EQ(ParseLeadingIntegerSaturating(""), 0);
}

TEST(LeadingInteger, WrappingComputesModulo32Bits) {
  EXPECT_EQ(ParseLeadingIntegerWrapping("  +42abc"), 42);
  EXPECT_EQ(ParseLeadingIntegerWrapping("-1"), -1);
  EXPECT_EQ(ParseLeadingIntegerWrapping("2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLeadingIntegerWrapping("4294967295"), -1);
  EXPECT_EQ(ParseLeadingIntegerWrapping("4294967297"), 1);
  // Every byte up to the space is skipped.
  EXPECT_EQ(ParseLeadingIntegerWrapping(std::string("\x01\x1f") + "5"), 5);
  EXPECT_EQ(ParseLeadingIntegerWrapping("x1"), 0);
  EXPECT_EQ(ParseLeadingIntegerWrapping(""), 0);
}

}  // namespace

TEST(ShownOnOneLine, ControlBytesBecomeMarksAndLongTextsAreCut) {
  struct Case {
    std::string text;
    std::size_t most;
    std::string shown;
  };
  const Case cases[] = {
      {"plain", 10, "plain"},
      {"exactly10!", 10, "exactly10!"},
      {"eleven char", 10, "eleven cha..."},
      {"a\nb\r\x1b[2J\x7f", 20, "a?b??[2J?"},
      {"", 5, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ShownOnOneLine(c.text, c.most), c.shown) << c.text;
}
