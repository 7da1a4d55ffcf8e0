// Pins the OPC DA declarations generated from idl/opcda.idl to the published
// interface GUIDs and x64 struct layouts: a wrong digit or a shifted field
// breaks every real OPC server without any error at compile time.
#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "opc/opc_server.h"
#include "opcda.h"

namespace {

std::string GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  std::string narrow;
  for (const wchar_t* ch = text; *ch != 0; ++ch) narrow.push_back(static_cast<char>(*ch));
  return narrow;
}

TEST(OpcIdlTest, InterfaceIdsMatchThePublishedInterfaces) {
  EXPECT_EQ(GuidText(IID_IOPCServer), "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(GuidText(IID_IOPCBrowseServerAddressSpace), "{39C13A4F-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(GuidText(IID_IOPCSyncIO), "{39C13A52-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(GuidText(IID_IOPCItemMgt), "{39C13A54-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(GuidText(IID_IOPCItemProperties), "{39C13A72-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(GuidText(IID_IOPCServerList), "{13486D50-4821-11D2-A494-3CB306C10000}");
}

TEST(OpcIdlTest, ClassAndCategoryIdsMatchThePublishedValues) {
  EXPECT_EQ(GuidText(CLSID_OpcServerList), "{13486D51-4821-11D2-A494-3CB306C10000}");
  EXPECT_EQ(GuidText(CATID_OPCDAServer10), "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}");
  EXPECT_EQ(GuidText(CATID_OPCDAServer20), "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}");
  EXPECT_EQ(GuidText(CATID_OPCDAServer30), "{CC603642-66D7-48F1-B69A-B625E73652D7}");
}

TEST(OpcIdlTest, PortableCategoryIdHasTheSameBytesAsTheComOne) {
  opc::ClassId com{};
  static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");
  std::memcpy(com.data(), &CATID_OPCDAServer20, 16);
  EXPECT_EQ(com, opc::kCatidOpcDaServer20);
}

TEST(OpcIdlTest, StructLayoutsMatchTheX64Abi) {
  EXPECT_EQ(sizeof(OPCITEMDEF), 48u);
  EXPECT_EQ(offsetof(OPCITEMDEF, szItemID), 8u);
  EXPECT_EQ(offsetof(OPCITEMDEF, pBlob), 32u);
  EXPECT_EQ(offsetof(OPCITEMDEF, vtRequestedDataType), 40u);
  EXPECT_EQ(sizeof(OPCITEMRESULT), 24u);
  EXPECT_EQ(offsetof(OPCITEMRESULT, dwAccessRights), 8u);
  EXPECT_EQ(offsetof(OPCITEMRESULT, pBlob), 16u);
  EXPECT_EQ(sizeof(OPCITEMSTATE), 40u);
  EXPECT_EQ(offsetof(OPCITEMSTATE, ftTimeStamp), 4u);
  EXPECT_EQ(offsetof(OPCITEMSTATE, wQuality), 12u);
  EXPECT_EQ(offsetof(OPCITEMSTATE, vDataValue), 16u);
  EXPECT_EQ(sizeof(OPCSERVERSTATUS), 56u);
}

}  // namespace
