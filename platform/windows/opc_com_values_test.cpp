// VT_BOOL between the wire and the agent's texts: a read renders the 16 bits
// exactly as the server sent them, and the agent's true leaves as
// VARIANT_TRUE, as on the Linux build.
#include "platform/windows/opc_com_values.h"

#include <gtest/gtest.h>

#include "opc/value_text.h"

namespace {

VARIANT Boolean(VARIANT_BOOL bits) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = bits;
  return value;
}

VARIANT_BOOL Sent(const std::string& text) {
  VARIANT wire;
  opc::Variant value;
  EXPECT_TRUE(TextToVariant(opc::VT_BOOL, text, &value));
  comvalues::ToVariant(value, &wire);
  EXPECT_EQ(wire.vt, VT_BOOL);
  VARIANT_BOOL bits = wire.boolVal;
  VariantClear(&wire);
  return bits;
}

TEST(ComValues, ABooleanReadIsRenderedAsTheServerSentIt) {
  EXPECT_EQ(VariantToText(comvalues::FromVariant(Boolean(VARIANT_TRUE))), "-1");
  EXPECT_EQ(VariantToText(comvalues::FromVariant(Boolean(VARIANT_FALSE))), "0");
  // Some servers send 1 for true.
  EXPECT_EQ(VariantToText(comvalues::FromVariant(Boolean(1))), "1");
}

TEST(ComValues, TheAgentsTrueLeavesAsVariantTrue) {
  EXPECT_EQ(Sent("true"), VARIANT_TRUE);
  EXPECT_EQ(Sent("1"), VARIANT_TRUE);
  EXPECT_EQ(Sent("false"), VARIANT_FALSE);
  EXPECT_EQ(Sent("0"), VARIANT_FALSE);
}

}  // namespace
