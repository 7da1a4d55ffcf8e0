#include "opc/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "platform/codepage.h"

namespace {

opc::Variant Integer(uint16_t vt, int64_t value) {
  opc::Variant v;
  v.vt = vt;
  v.integer = value;
  return v;
}
opc::Variant Real(uint16_t vt, double value) {
  opc::Variant v;
  v.vt = vt;
  v.real = value;
  return v;
}
opc::Variant Text(const std::u16string& text) {
  opc::Variant v;
  v.vt = opc::VT_BSTR;
  v.text = text;
  return v;
}

struct TextCase {
  opc::Variant value;
  std::string text;
};

TEST(VariantToText, RendersEachTypeAsTheAgentReportsIt) {
  const TextCase cases[] = {
      {opc::Variant{}, ""},
      {Integer(opc::VT_NULL, 0), ""},
      {Integer(opc::VT_I2, -12), "-12"},
      {Integer(opc::VT_I4, 2147483647), "2147483647"},
      {Real(opc::VT_R4, 2.5), "2.500000"},
      {Real(opc::VT_R8, -0.125), "-0.125000"},
      {Real(opc::VT_DATE, 44843.5), "Sunday,October09,2022"},
      {Real(opc::VT_DATE, 0.0), "Saturday,December30,1899"},
      {Real(opc::VT_DATE, -0.5), "Saturday,December30,1899"},
      {Real(opc::VT_DATE, 1e300), ""},
      {Real(opc::VT_DATE, -1e12), ""},
      {Real(opc::VT_DATE, std::nan("")), ""},
      {Text(u"pump \u00e9"), platform::Utf16ToAnsi(u"pump \u00e9")},
      {Integer(opc::VT_BOOL, -1), "-1"},
      {Integer(opc::VT_BOOL, 0), "0"},
      {Integer(opc::VT_BOOL, 1), "1"},  // as the server sent it
      {Integer(opc::VT_UI1, 200), "200"},
      {Integer(opc::VT_UI2, 5), ""},
      {Integer(opc::VT_UI4, 5), ""},
      {Integer(opc::VT_I1, 5), ""},
      {Integer(opc::VT_I8, 5), ""},
      {Integer(opc::VT_INT, 5), ""},
      {Integer(opc::VT_CY, 50000), ""},
      {Integer(opc::VT_I4 | opc::VT_ARRAY, 5), ""},
      {Integer(opc::VT_I4 | opc::VT_BYREF, 5), ""},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(VariantToText(c.value), c.text) << "vt " << c.value.vt;
  }
}

struct VariantCase {
  int32_t type;
  std::string text;
  uint16_t vt;
  int64_t integer;
  double real;
  std::u16string wide;
};

TEST(TextToVariant, ConvertsToTheItemsCanonicalType) {
  const VariantCase cases[] = {
      {opc::VT_I2, "5", opc::VT_I2, 5, 0, u""},
      {opc::VT_I2, " \t-7 ", opc::VT_I2, -7, 0, u""},  // blanks around are no part of it
      {opc::VT_I2, "-32768", opc::VT_I2, -32768, 0, u""},
      {opc::VT_UI2, "65535", opc::VT_UI2, 65535, 0, u""},
      {opc::VT_UI2, "-0", opc::VT_UI2, 0, 0, u""},
      {opc::VT_I4, "-2147483648", opc::VT_I4, -2147483648LL, 0, u""},
      {opc::VT_I4, "007", opc::VT_I4, 7, 0, u""},
      {opc::VT_UI4, "4294967295", opc::VT_UI4, 4294967295LL, 0, u""},
      {opc::VT_INT, "+12", opc::VT_INT, 12, 0, u""},
      {opc::VT_UINT, "0", opc::VT_UINT, 0, 0, u""},
      {opc::VT_R4, "2.5e1", opc::VT_R4, 0, 25.0, u""},
      {opc::VT_R4, "0.1", opc::VT_R4, 0, static_cast<double>(0.1f), u""},
      {opc::VT_R8, " -1.25", opc::VT_R8, 0, -1.25, u""},
      {opc::VT_R8, ".5", opc::VT_R8, 0, 0.5, u""},
      {opc::VT_R8, "5.", opc::VT_R8, 0, 5.0, u""},
      {opc::VT_R8, "1E-3", opc::VT_R8, 0, 0.001, u""},
      {opc::VT_R8, "12", opc::VT_R8, 0, 12.0, u""},
      {opc::VT_BSTR, "pump", opc::VT_BSTR, 0, 0, u"pump"},
      {opc::VT_BSTR, "", opc::VT_BSTR, 0, 0, u""},
      {opc::VT_BOOL, "TRUE", opc::VT_BOOL, -1, 0, u""},  // VARIANT_TRUE
      {opc::VT_BOOL, "True", opc::VT_BOOL, -1, 0, u""},
      {opc::VT_BOOL, "1", opc::VT_BOOL, -1, 0, u""},
      {opc::VT_BOOL, "-1", opc::VT_BOOL, -1, 0, u""},  // true as a read shows it
      {opc::VT_BOOL, " true ", opc::VT_BOOL, -1, 0, u""},
      {opc::VT_BOOL, "-2", opc::VT_BOOL, 0, 0, u""},
      {opc::VT_BOOL, "yes", opc::VT_BOOL, 0, 0, u""},
      {opc::VT_UI1, "5", opc::VT_UI1, 53, 0, u""},
      {opc::VT_UI1, "", opc::VT_UI1, 0, 0, u""},
      {opc::VT_I1, "A", opc::VT_I1, 65, 0, u""},
      {0, "7", opc::VT_BSTR, 0, 0, u"7"},
      {opc::VT_DATE, "44843", opc::VT_BSTR, 0, 0, u"44843"},
  };
  for (const VariantCase& c : cases) {
    opc::Variant v;
    ASSERT_TRUE(TextToVariant(c.type, c.text, &v)) << c.type << " " << c.text;
    EXPECT_EQ(v.vt, c.vt) << c.type << " " << c.text;
    EXPECT_EQ(v.integer, c.integer) << c.type << " " << c.text;
    EXPECT_DOUBLE_EQ(v.real, c.real) << c.type << " " << c.text;
    EXPECT_EQ(v.text, c.wide) << c.type << " " << c.text;
  }
}

// A text that is not wholly a number of a numeric item's type makes no value
// at all, where a lenient reading once made 0 (or the leading digits) of it.
TEST(TextToVariant, RefusesTextsThatAreNotWhollyANumberOfTheType) {
  const std::pair<int32_t, const char*> cases[] = {
      {opc::VT_R4, "abc"},
      {opc::VT_R4, "12abc"},
      {opc::VT_R4, ""},
      {opc::VT_R4, "   "},
      {opc::VT_R4, "2.5e1x"},
      {opc::VT_R4, "1e39"},
      {opc::VT_R8, "0x10"},
      {opc::VT_R8, "inf"},
      {opc::VT_R8, "nan"},
      {opc::VT_R8, "1e999"},
      {opc::VT_R8, "1e"},
      {opc::VT_R8, "."},
      {opc::VT_R8, "1.2.3"},
      {opc::VT_R8, "1,5"},
      {opc::VT_R8, "- 1"},
      {opc::VT_I2, "  -7xyz"},
      {opc::VT_I2, "70000"},
      {opc::VT_I2, "32768"},
      {opc::VT_I2, "-32769"},
      {opc::VT_UI2, "-1"},
      {opc::VT_UI2, "65536"},
      {opc::VT_I4, ""},
      {opc::VT_I4, "+"},
      {opc::VT_I4, "12.0"},
      {opc::VT_I4, "1 2"},
      {opc::VT_I4, "2147483648"},
      {opc::VT_I4, "99999999999"},
      {opc::VT_INT, "-2147483649"},
      {opc::VT_UI4, "-1"},
      {opc::VT_UI4, "4294967296"},
      {opc::VT_UINT, "99999999999999999999999999"},
  };
  for (const auto& c : cases) {
    opc::Variant v;
    v.vt = opc::VT_NULL;
    EXPECT_FALSE(TextToVariant(c.first, c.second, &v)) << c.first << " \"" << c.second << "\"";
    EXPECT_EQ(v.vt, opc::VT_NULL) << "left as it was";
  }
}

TEST(NumberRule, NamesWhatEachNumericTypeTakes) {
  EXPECT_EQ(NumberRule(opc::VT_I2), "a whole number from -32768 to 32767");
  EXPECT_EQ(NumberRule(opc::VT_UI4), "a whole number from 0 to 4294967295");
  EXPECT_EQ(NumberRule(opc::VT_R4), "a number");
  EXPECT_EQ(NumberRule(opc::VT_BSTR), "");
  EXPECT_EQ(NumberRule(opc::VT_UI1), "");
}

TEST(TimeStampSeconds, IsUnixTimeMinusEightHoursInThirtyTwoBits) {
  const uint64_t epoch = 116444736000000000ULL;
  EXPECT_EQ(TimeStampSeconds(epoch), -28800);
  // 2022-10-09 00:00:00 UTC = 1665273600 gives 16:00 of the day before.
  EXPECT_EQ(TimeStampSeconds(epoch + 1665273600ULL * 10000000ULL), 1665273600 - 28800);
  EXPECT_EQ(TimeStampSeconds(epoch + 15ULL * 10000000ULL + 9999999ULL), 15 - 28800);
  // A zero time stamp wraps modulo 2^64.
  uint64_t wrapped = (0ULL - epoch) / 10000000ULL - 28800ULL;
  EXPECT_EQ(TimeStampSeconds(0), static_cast<int32_t>(static_cast<uint32_t>(wrapped)));
  EXPECT_LT(TimeStampSeconds(0), 0);
}

TEST(TimeStampSeconds, TheBiasIsSubtractedFromUnixTime) {
  const uint64_t epoch = 116444736000000000ULL;
  const uint64_t at = epoch + 1665273600ULL * 10000000ULL;
  EXPECT_EQ(TimeStampSeconds(at, 0), 1665273600);
  EXPECT_EQ(TimeStampSeconds(at, 28800), TimeStampSeconds(at));
  EXPECT_EQ(TimeStampSeconds(at, -3600), 1665273600 + 3600);
  EXPECT_EQ(TimeStampSeconds(epoch, 0), 0);
}

TEST(ValueRecord, FormatGivesTheBiasAndOptionallyTheQuality) {
  opc::ItemState state;
  state.timeStamp = 116444736000000000ULL + 1665273600ULL * 10000000ULL;
  state.quality = 0xC0;
  RecordFormat usual;
  // The default format is byte for byte the record of before.
  EXPECT_EQ(ValueRecord(usual, "T1", "5", state), ValueRecord("T1", "5", 1665273600 - 28800));
  RecordFormat unix;
  unix.timebias = 0;
  unix.quality = true;
  EXPECT_EQ(ValueRecord(unix, "T1", "5", state), "{\"i\":\"T1\",\"v\":\"5\",\"t\":1665273600,\"q\":192}");
  state.quality = 0x0018;  // bad: comm failure
  EXPECT_EQ(ValueRecord(unix, "T1", "", state), "{\"i\":\"T1\",\"v\":\"\",\"t\":1665273600,\"q\":24}");
}

TEST(ValueRecord, IsAlwaysValidJson) {
  EXPECT_EQ(ValueRecord("T1", "5", 12), "{\"i\":\"T1\",\"v\":\"5\",\"t\":12}");
  EXPECT_EQ(ValueRecord("a\"b", "c\\d\n", -3), "{\"i\":\"a\\\"b\",\"v\":\"c\\\\d\\n\",\"t\":-3}");
}

}  // namespace
