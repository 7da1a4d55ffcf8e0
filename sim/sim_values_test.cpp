#include "sim/sim_values.h"

#include <gtest/gtest.h>

namespace {

struct ChangeCase {
  opc::Variant from;
  uint16_t type;
  bool ok;
  int64_t integer;
  double real;
  std::u16string text;
};

opc::Variant V(uint16_t vt, int64_t integer, double real = 0, std::u16string text = u"") {
  opc::Variant v;
  v.vt = vt;
  v.integer = integer;
  v.real = real;
  v.text = text;
  return v;
}

TEST(ChangeVariantType, ConvertsLikeTheComConversion) {
  const ChangeCase cases[] = {
      {V(opc::VT_BSTR, 0, 0, u"12"), opc::VT_I2, true, 12, 0, u""},
      {V(opc::VT_BSTR, 0, 0, u" 2.5 "), opc::VT_R4, true, 0, 2.5, u""},
      {V(opc::VT_BSTR, 0, 0, u"abc"), opc::VT_I4, false, 0, 0, u""},
      {V(opc::VT_BSTR, 0, 0, u"true"), opc::VT_BOOL, true, -1, 0, u""},
      {V(opc::VT_BSTR, 0, 0, u"0"), opc::VT_BOOL, true, 0, 0, u""},
      {V(opc::VT_BOOL, 1), opc::VT_BOOL, true, 1, 0, u""},  // the same type: copied as sent
      {V(opc::VT_I4, 1), opc::VT_BOOL, true, -1, 0, u""},
      {V(opc::VT_I4, 300), opc::VT_UI1, false, 0, 0, u""},
      {V(opc::VT_I4, -1), opc::VT_UI4, false, 0, 0, u""},
      {V(opc::VT_R8, 0, 2.5), opc::VT_I4, true, 2, 0, u""},  // half to even
      {V(opc::VT_R8, 0, 3.5), opc::VT_I4, true, 4, 0, u""},
      {V(opc::VT_R8, 0, 1.25), opc::VT_CY, true, 12500, 0, u""},
      {V(opc::VT_I4, 42), opc::VT_BSTR, true, 0, 0, u"42"},
      {V(opc::VT_BOOL, -1), opc::VT_BSTR, true, 0, 0, u"True"},
      {V(opc::VT_BSTR, 0, 0, u"44843.5"), opc::VT_DATE, true, 0, 44843.5, u""},
      {V(opc::VT_R8, 0, 1e40), opc::VT_R4, false, 0, 0, u""},
  };
  for (const ChangeCase& c : cases) {
    opc::Variant to;
    bool ok = sim::ChangeVariantType(c.from, c.type, &to);
    EXPECT_EQ(ok, c.ok) << c.from.vt << "->" << c.type;
    if (!ok || !c.ok) continue;
    EXPECT_EQ(to.vt, c.type);
    EXPECT_EQ(to.integer, c.integer) << c.from.vt << "->" << c.type;
    EXPECT_DOUBLE_EQ(to.real, c.real) << c.from.vt << "->" << c.type;
    EXPECT_EQ(to.text, c.text);
  }
}

}  // namespace
