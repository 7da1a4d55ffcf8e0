// Cross-process calls beyond the OPC server contract (which runs through the
// COM connector too): the simulation COM servers and the proxy/stub DLL,
// copied into a fresh folder with a simulation.ini of the test's own and
// registered in the current prefix. GetErrorString's [out] string arrives,
// which widl 7/8 proxies lose without the build's correction.
#include <windows.h>
// After <windows.h>, which it relies on.
#include <objbase.h>

#include <process.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "opc/opc_server.h"
#include "opcda.h"
#include "platform/windows/opc_com_values.h"
#include "sim/sim_engine.h"
#include "tests/support/windows/sim_com_install.h"

namespace {

const char kSimulation[] =
    "[server]\nprogid=Talvero.Simulation.1\nname=Talvero Simulation Server\n";

class ComRoundTripTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "talvero-com-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    CreateDirectoryA((folder_ + "\\data").c_str(), nullptr);
    std::ofstream(folder_ + "\\data\\simulation.ini") << kSimulation;
    registered_ = simcomtest::InstallSimulationServers(folder_);
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

  static std::string folder_;
  static bool registered_;
  std::unique_ptr<opc::OpcConnector> connector_;
};

std::string ComRoundTripTest::folder_;
bool ComRoundTripTest::registered_ = false;

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

// A call and, right after it, the release of the last reference to that
// interface in the server: the pattern that Wine's RPC runtime can hang on
// (see simcom::KeepInterfacesRegistered). Each round creates a server list
// (IClassFactory::CreateInstance, then the factory's release) and reads its
// classes (IEnumGUID::Next, then the enumerator's release); one list object
// held for the whole loop keeps the server process running. Each round has
// its own time limit, so a hang fails the test instead of stalling it.
TEST_F(ComRoundTripTest, ACallAndTheLastReleaseRightAfterItNeverHang) {
  IOPCServerList* keeper = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServerList,
                             reinterpret_cast<void**>(&keeper)),
            S_OK);
  comvalues::ComRef<IOPCServerList> hold(keeper);
  for (int round = 0; round < 300; ++round) {
    // The round runs on a thread of the same apartment, which a failed wait
    // leaves behind; it uses nothing of this frame.
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, 0,
        [](void*) -> unsigned {
          CoInitializeEx(nullptr, COINIT_MULTITHREADED);
          IOPCServerList* list = nullptr;
          if (SUCCEEDED(CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_LOCAL_SERVER,
                                         IID_IOPCServerList, reinterpret_cast<void**>(&list)))) {
            CATID category = CATID_OPCDAServer20;
            IEnumGUID* classes = nullptr;
            if (SUCCEEDED(list->EnumClassesOfCategories(1, &category, 0, nullptr, &classes))) {
              GUID found;
              ULONG fetched = 0;
              classes->Next(1, &found, &fetched);
              classes->Release();
            }
            list->Release();
          }
          CoUninitialize();
          return 0;
        },
        nullptr, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    const DWORD waited = WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "round " << round << " hung";
  }
}

TEST_F(ComRoundTripTest, SystemMessageTextComesFromTheSystemTable) {
  std::string text = connector_->SystemMessageText(opc::kAccessDenied);
  EXPECT_NE(text.find("denied"), std::string::npos) << text;
  EXPECT_TRUE(connector_->SystemMessageText(static_cast<opc::Result>(0xC0049999)).empty());
}

}  // namespace
