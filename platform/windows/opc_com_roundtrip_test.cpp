// Cross-process round trips through the COM connector: the simulation COM
// servers and the proxy/stub DLL, copied into a fresh folder with a
// simulation.ini of the test's own and registered in the current prefix.
// They prove the widl proxy carries every call the agent makes, and in
// particular that the [out] string parameters (GetClassDetails, GetItemID,
// GetErrorString) arrive, which widl 7/8 get wrong without the build's fix.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "opc/opc_server.h"
#include "opcda.h"
#include "platform/windows/opc_com_values.h"
#include "sim/sim_engine.h"

namespace {

std::string ThisFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.find_last_of("\\/"));
}

DWORD RunAndWait(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return GetLastError() | 0x80000000u;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

const char kSimulation[] =
    "[server]\nprogid=Talvero.Simulation.1\nname=Talvero Simulation Server\n\n"
    "[items]\nChannel1.Device1.Level=VT_R8,static,12.5\n"
    "Channel1.Device1.Name=VT_BSTR,static,pump one\n"
    "Channel1.Device1.Count=VT_I4,static,7\n";

class ComRoundTripTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "talvero-com-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    CreateDirectoryA((folder_ + "\\data").c_str(), nullptr);
    std::ofstream(folder_ + "\\data\\simulation.ini") << kSimulation;
    const std::string source = ThisFolder();
    for (const char* file : {"talvero-sim-server.exe", "talvero-sim-list.exe",
                             "talvero-opcda-ps.dll"}) {
      CopyFileA((source + "\\" + file).c_str(), (folder_ + "\\" + file).c_str(), FALSE);
    }
    registered_ =
        RunAndWait("\"" + folder_ + "\\talvero-sim-server.exe\" /regserver") == 0 &&
        RunAndWait("\"" + folder_ + "\\talvero-sim-list.exe\" /regserver") == 0;
    HMODULE proxy = LoadLibraryA((folder_ + "\\talvero-opcda-ps.dll").c_str());
    auto registerProxy =
        proxy != nullptr ? reinterpret_cast<HRESULT(WINAPI*)()>(
                               reinterpret_cast<void*>(GetProcAddress(proxy, "DllRegisterServer")))
                         : nullptr;
    registered_ = registered_ && registerProxy != nullptr && SUCCEEDED(registerProxy());
  }

  void SetUp() override {
    ASSERT_TRUE(registered_) << "could not register the simulation COM servers from " << folder_;
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    connector_ = opc::CreatePlatformConnector(folder_);
  }
  void TearDown() override {
    connector_.reset();
    CoUninitialize();
  }

  // A connected server object of the simulation class.
  std::shared_ptr<opc::OpcObject> Server() {
    std::shared_ptr<opc::OpcObject> server;
    EXPECT_EQ(connector_->CreateServer(sim::kSimServerClassId, opc::CreationTarget(), &server),
              opc::kOk);
    return server;
  }

  static std::string folder_;
  static bool registered_;
  std::unique_ptr<opc::OpcConnector> connector_;
};

std::string ComRoundTripTest::folder_;
bool ComRoundTripTest::registered_ = false;

TEST_F(ComRoundTripTest, ServerListFindsTheSimulationServerWithItsTexts) {
  std::shared_ptr<opc::OpcServerList> list;
  ASSERT_EQ(connector_->CreateServerList(opc::CreationTarget(), &list), opc::kOk);
  std::vector<opc::ClassId> classes;
  ASSERT_EQ(list->EnumClassesOfCategories({opc::kCatidOpcDaServer20}, {opc::kCatidOpcDaServer20},
                                          &classes),
            opc::kOk);
  ASSERT_NE(std::find(classes.begin(), classes.end(), sim::kSimServerClassId), classes.end());
  std::u16string progId, userType;
  ASSERT_EQ(list->GetClassDetails(sim::kSimServerClassId, &progId, &userType), opc::kOk);
  EXPECT_EQ(progId, u"Talvero.Simulation.1");
  EXPECT_EQ(userType, u"Talvero Simulation Server");
  opc::ClassId found{};
  ASSERT_EQ(list->CLSIDFromProgID(u"Talvero.Simulation.1", &found), opc::kOk);
  EXPECT_EQ(found, sim::kSimServerClassId);
}

TEST_F(ComRoundTripTest, GroupAddsItemsAndReadsAndWritesValues) {
  auto object = Server();
  ASSERT_TRUE(object);
  std::shared_ptr<opc::OpcServer> server;
  ASSERT_EQ(object->QueryServer(&server), opc::kOk);
  std::shared_ptr<opc::OpcObject> group;
  ASSERT_EQ(server->AddGroup(u"Channel1", true, 10, 1235, 0, 0.0f, 0, &group), opc::kOk);
  std::shared_ptr<opc::OpcItemMgt> itemMgt;
  ASSERT_EQ(group->QueryItemMgt(&itemMgt), opc::kOk);
  std::vector<opc::ItemDefinition> items(3);
  items[0].itemId = u"Channel1.Device1.Level";
  items[1].itemId = u"Channel1.Device1.Name";
  items[2].itemId = u"Channel1.Device1.Missing";
  for (size_t i = 0; i < items.size(); ++i) items[i].clientHandle = static_cast<uint32_t>(i);
  std::vector<opc::ItemResult> results;
  std::vector<opc::Result> errors;
  ASSERT_TRUE(opc::Succeeded(itemMgt->AddItems(items, &results, &errors)));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], opc::kOk);
  EXPECT_EQ(errors[1], opc::kOk);
  EXPECT_TRUE(opc::Failed(errors[2]));
  EXPECT_EQ(results[0].canonicalDataType, opc::VT_R8);
  std::shared_ptr<opc::OpcSyncIO> syncIO;
  ASSERT_EQ(itemMgt->QuerySyncIO(&syncIO), opc::kOk);
  std::vector<uint32_t> handles = {results[0].serverHandle, results[1].serverHandle};
  std::vector<opc::ItemState> states;
  ASSERT_EQ(syncIO->Read(opc::kSourceDevice, handles, &states, &errors), opc::kOk);
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0].value.vt, opc::VT_R8);
  EXPECT_DOUBLE_EQ(states[0].value.real, 12.5);
  EXPECT_EQ(states[1].value.vt, opc::VT_BSTR);
  EXPECT_EQ(states[1].value.text, u"pump one");
  EXPECT_NE(states[0].timeStamp, 0u);

  opc::Variant text;
  text.vt = opc::VT_BSTR;
  text.text = u"pump two";
  ASSERT_TRUE(opc::Succeeded(syncIO->Write({results[1].serverHandle}, {text}, &errors)));
  ASSERT_EQ(syncIO->Read(opc::kSourceDevice, {results[1].serverHandle}, &states, &errors),
            opc::kOk);
  EXPECT_EQ(states[0].value.text, u"pump two");
}

TEST_F(ComRoundTripTest, BrowseAndPropertiesCarryStringsAcross) {
  auto object = Server();
  ASSERT_TRUE(object);
  std::shared_ptr<opc::OpcBrowseServerAddressSpace> browse;
  ASSERT_EQ(object->QueryBrowse(&browse), opc::kOk);
  ASSERT_EQ(browse->ChangeBrowsePosition(opc::kBrowseTo, u"Channel1.Device1"), opc::kOk);
  std::vector<std::u16string> names;
  ASSERT_EQ(browse->BrowseOPCItemIDs(opc::kBrowseLeaf, u"", opc::VT_EMPTY, 0, &names), opc::kOk);
  EXPECT_NE(std::find(names.begin(), names.end(), u"Level"), names.end());
  std::u16string full;
  ASSERT_EQ(browse->GetItemID(u"Level", &full), opc::kOk);
  EXPECT_EQ(full, u"Channel1.Device1.Level");

  std::shared_ptr<opc::OpcItemProperties> properties;
  ASSERT_EQ(object->QueryProperties(&properties), opc::kOk);
  std::vector<uint32_t> ids;
  std::vector<std::u16string> descriptions;
  std::vector<uint16_t> types;
  ASSERT_EQ(properties->QueryAvailableProperties(u"Channel1.Device1.Count", &ids, &descriptions,
                                                 &types),
            opc::kOk);
  ASSERT_FALSE(ids.empty());
  ASSERT_EQ(descriptions.size(), ids.size());
  EXPECT_FALSE(descriptions[0].empty());
  std::vector<opc::Variant> values;
  std::vector<opc::Result> errors;
  ASSERT_EQ(properties->GetItemProperties(u"Channel1.Device1.Count", ids, &values, &errors),
            opc::kOk);
  ASSERT_EQ(values.size(), ids.size());
  EXPECT_EQ(values[0].integer, opc::VT_I4);  // property 1: the canonical data type
}

TEST_F(ComRoundTripTest, ErrorStringArrivesThroughTheProxy) {
  IOPCServer* server = nullptr;
  GUID clsid;
  std::memcpy(&clsid, sim::kSimServerClassId.data(), sizeof clsid);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                             reinterpret_cast<void**>(&server)),
            S_OK);
  comvalues::ComRef<IOPCServer> hold(server);
  LPWSTR text = nullptr;
  ASSERT_EQ(server->GetErrorString(E_ACCESSDENIED, 0, &text), S_OK);
  ASSERT_NE(text, nullptr);
  EXPECT_GT(wcslen(text), 0u);
  CoTaskMemFree(text);
}

TEST_F(ComRoundTripTest, SystemMessageTextComesFromTheSystemTable) {
  std::string text = connector_->SystemMessageText(opc::kAccessDenied);
  EXPECT_NE(text.find("denied"), std::string::npos) << text;
  EXPECT_TRUE(connector_->SystemMessageText(static_cast<opc::Result>(0xC0049999)).empty());
}

}  // namespace
