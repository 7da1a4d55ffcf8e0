// The account of a remote session on every proxy. Wine cannot reach another
// host, so the connector runs in remote mode with a creation that asks the
// local simulation servers instead: every proxy it obtains must still get the
// account's blanket (recorded here, then applied for real), and every call
// on those local proxies must still succeed with it.
#include <windows.h>
// After <windows.h>, which it relies on.
#include <objbase.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "opc/opc_server.h"
#include "opcda.h"
#include "platform/windows/opc_com_security.h"
#include "sim/sim_engine.h"
#include "tests/support/windows/sim_com_install.h"

namespace {

const char kSimulation[] =
    "[server]\nprogid=Talvero.Simulation.1\nname=Talvero Simulation Server\n"
    "[items]\nChannel1.Device1.Level=VT_R8,static,4.5\n";

struct BlanketRecord {
  IID iid;
  opc::ProxyBlanket blanket;
  std::wstring user;
  std::wstring domain;
  std::wstring password;
  HRESULT applied;
};

std::wstring Text(const USHORT* text, ULONG length) {
  return text == nullptr ? std::wstring()
                         : std::wstring(reinterpret_cast<const wchar_t*>(text), length);
}

// Records the blanket each proxy is given, then gives it for real.
class BlanketLog {
 public:
  opc::ProxySecurer Securer() {
    return [this](IUnknown* proxy, REFIID iid, const opc::ProxyBlanket& blanket) {
      BlanketRecord record{iid, blanket, {}, {}, {}, E_FAIL};
      if (blanket.identity != nullptr) {
        record.user = Text(blanket.identity->User, blanket.identity->UserLength);
        record.domain = Text(blanket.identity->Domain, blanket.identity->DomainLength);
        record.password = Text(blanket.identity->Password, blanket.identity->PasswordLength);
      }
      record.applied = opc::SetProxyBlanket(proxy, iid, blanket);
      std::lock_guard<std::mutex> hold(lock_);
      records_.push_back(record);
      return record.applied;
    };
  }
  std::vector<BlanketRecord> Records() {
    std::lock_guard<std::mutex> hold(lock_);
    return records_;
  }
  bool Saw(REFIID iid) {
    std::vector<BlanketRecord> all = Records();
    return std::any_of(all.begin(), all.end(),
                       [&iid](const BlanketRecord& record) { return record.iid == iid; });
  }

 private:
  std::mutex lock_;  // guards records_ (creations run on threads of their own)
  std::vector<BlanketRecord> records_;
};

class ComSecurityTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "talvero-security-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    CreateDirectoryA((folder_ + "\\data").c_str(), nullptr);
    std::ofstream(folder_ + "\\data\\simulation.ini") << kSimulation;
    registered_ = simcomtest::InstallSimulationServers(folder_);
  }

  // Runs body on a thread of its own in the multithreaded apartment, as the
  // agent's calls run (this thread may be left in another by earlier tests).
  template <typename Body>
  void InAgentApartment(Body body) {
    ASSERT_TRUE(registered_) << "could not register the simulation COM servers from " << folder_;
    std::thread thread([&body] {
      ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
      body();
      CoUninitialize();
    });
    thread.join();
  }

  // A connector whose creations go to the local servers whatever the target
  // says, noting the identity each creation was handed.
  std::unique_ptr<opc::OpcConnector> Connector(BlanketLog* log) {
    opc::ComConnectorHooks hooks;
    hooks.create = [this](const GUID& classId, REFIID iid, const opc::CreationTarget&,
                          COAUTHIDENTITY* identity, IUnknown** object) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        creationIdentities_.push_back(identity);
      }
      return CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, iid,
                              reinterpret_cast<void**>(object));
    };
    hooks.secure = log->Securer();
    return opc::CreateComConnector(60000, hooks);
  }

  std::vector<COAUTHIDENTITY*> CreationIdentities() {
    std::lock_guard<std::mutex> hold(lock_);
    return creationIdentities_;
  }

  static std::string folder_;
  static bool registered_;
  std::mutex lock_;  // guards creationIdentities_
  std::vector<COAUTHIDENTITY*> creationIdentities_;
};

std::string ComSecurityTest::folder_;
bool ComSecurityTest::registered_ = false;

opc::CreationTarget RemoteTarget() {
  opc::CreationTarget target;
  target.remote = true;
  target.host = u"plant-host";
  target.user = u"operator";
  target.domain = u"PLANT";
  target.password = u"s3cret";
  return target;
}

TEST_F(ComSecurityTest, EveryProxyOfARemoteSessionCarriesTheAccountAndCallsStillSucceed) {
  InAgentApartment([this] {
    BlanketLog log;
    std::unique_ptr<opc::OpcConnector> connector = Connector(&log);
    const opc::CreationTarget target = RemoteTarget();

    std::shared_ptr<opc::OpcServerList> list;
    ASSERT_EQ(connector->CreateServerList(target, &list), opc::kOk);
    std::vector<opc::ClassId> classes;
    ASSERT_EQ(list->EnumClassesOfCategories({opc::kCatidOpcDaServer20}, {opc::kCatidOpcDaServer20},
                                            &classes),
              opc::kOk);
    ASSERT_FALSE(classes.empty());
    std::u16string progId, userType;
    EXPECT_EQ(list->GetClassDetails(sim::kSimServerClassId, &progId, &userType), opc::kOk);
    EXPECT_EQ(progId, u"Talvero.Simulation.1");

    std::shared_ptr<opc::OpcObject> server;
    ASSERT_EQ(connector->CreateServer(sim::kSimServerClassId, target, &server), opc::kOk);
    std::shared_ptr<opc::OpcServer> opcServer;
    ASSERT_EQ(server->QueryServer(&opcServer), opc::kOk);
    std::shared_ptr<opc::OpcObject> group;
    ASSERT_EQ(opcServer->AddGroup(u"Channel1", true, 10, 1, 0, 0.0f, 0, &group), opc::kOk);
    std::shared_ptr<opc::OpcItemMgt> itemMgt;
    ASSERT_EQ(group->QueryItemMgt(&itemMgt), opc::kOk);
    opc::ItemDefinition item;
    item.itemId = u"Channel1.Device1.Level";
    item.active = true;
    item.clientHandle = 1;
    std::vector<opc::ItemResult> added;
    std::vector<opc::Result> errors;
    ASSERT_EQ(itemMgt->AddItems({item}, &added, &errors), opc::kOk);
    ASSERT_EQ(errors, std::vector<opc::Result>{opc::kOk});
    std::shared_ptr<opc::OpcSyncIO> syncIO;
    ASSERT_EQ(itemMgt->QuerySyncIO(&syncIO), opc::kOk);
    std::vector<opc::ItemState> states;
    ASSERT_EQ(syncIO->Read(opc::kSourceDevice, {added[0].serverHandle}, &states, &errors),
              opc::kOk);
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].value.real, 4.5);
    std::shared_ptr<opc::OpcBrowseServerAddressSpace> browse;
    ASSERT_EQ(server->QueryBrowse(&browse), opc::kOk);
    std::vector<std::u16string> names;
    ASSERT_EQ(browse->BrowseOPCItemIDs(opc::kBrowseFlat, u"", 0, 0, &names), opc::kOk);
    EXPECT_NE(std::find(names.begin(), names.end(), u"Channel1.Device1.Level"), names.end());
    std::shared_ptr<opc::OpcItemProperties> properties;
    ASSERT_EQ(server->QueryProperties(&properties), opc::kOk);
    std::vector<uint32_t> ids;
    std::vector<std::u16string> descriptions;
    std::vector<uint16_t> types;
    EXPECT_EQ(properties->QueryAvailableProperties(u"Channel1.Device1.Level", &ids, &descriptions,
                                                   &types),
              opc::kOk);

    // Each kind of proxy the session obtained, the objects' IUnknown (which
    // carries QueryInterface) and the enumerators calls hand back included.
    const std::pair<const char*, const IID*> obtained[] = {
        {"IOPCServerList", &IID_IOPCServerList},
        {"IEnumGUID", &IID_IEnumGUID},
        {"IUnknown", &IID_IUnknown},
        {"IOPCServer", &IID_IOPCServer},
        {"IOPCItemMgt", &IID_IOPCItemMgt},
        {"IOPCSyncIO", &IID_IOPCSyncIO},
        {"IOPCBrowseServerAddressSpace", &IID_IOPCBrowseServerAddressSpace},
        {"IEnumString", &IID_IEnumString},
        {"IOPCItemProperties", &IID_IOPCItemProperties}};
    for (const auto& kind : obtained)
      EXPECT_TRUE(log.Saw(*kind.second)) << "no blanket for " << kind.first;
    const std::vector<BlanketRecord> records = log.Records();
    // The list and the server are two creations with one identity each; the
    // creation used the same record as the blankets.
    const std::vector<COAUTHIDENTITY*> created = CreationIdentities();
    ASSERT_EQ(created.size(), 2u);
    for (const BlanketRecord& record : records) {
      // Windows's proxies take the blanket; Wine's answer E_NOTIMPL (its
      // CoSetProxyBlanket is a stub) and serve the calls all the same.
      EXPECT_TRUE(record.applied == S_OK || record.applied == E_NOTIMPL) << record.applied;
      EXPECT_EQ(record.blanket.authenticationService, static_cast<DWORD>(RPC_C_AUTHN_WINNT));
      EXPECT_GE(record.blanket.authenticationLevel,
                static_cast<DWORD>(RPC_C_AUTHN_LEVEL_PKT_INTEGRITY));
      EXPECT_EQ(record.blanket.impersonationLevel, static_cast<DWORD>(RPC_C_IMP_LEVEL_IMPERSONATE));
      EXPECT_NE(std::find(created.begin(), created.end(), record.blanket.identity), created.end());
      EXPECT_EQ(record.user, L"operator");
      EXPECT_EQ(record.domain, L"PLANT");
      EXPECT_EQ(record.password, L"s3cret");
      EXPECT_EQ(record.blanket.identity->Flags,
                static_cast<ULONG>(SEC_WINNT_AUTH_IDENTITY_UNICODE));
    }
    // The account is still whole after the activation: COM reads it on
    // every call of the session's proxies.
    for (COAUTHIDENTITY* identity : created) {
      ASSERT_NE(identity, nullptr);
      EXPECT_EQ(Text(identity->Password, identity->PasswordLength), L"s3cret");
    }
  });
}

TEST_F(ComSecurityTest, ALocalSessionLeavesTheProxiesAsTheyAre) {
  InAgentApartment([this] {
    BlanketLog log;
    std::unique_ptr<opc::OpcConnector> connector = Connector(&log);
    std::shared_ptr<opc::OpcObject> server;
    ASSERT_EQ(connector->CreateServer(sim::kSimServerClassId, opc::CreationTarget(), &server),
              opc::kOk);
    std::shared_ptr<opc::OpcServer> opcServer;
    ASSERT_EQ(server->QueryServer(&opcServer), opc::kOk);
    EXPECT_TRUE(log.Records().empty());
    EXPECT_EQ(CreationIdentities(), std::vector<COAUTHIDENTITY*>{nullptr});
  });
}

TEST(ProxyIdentity, HoldsTheAccountAsComTakesItUntilWiped) {
  opc::ProxyIdentity identity(u"operator", u"PLANT", u"s3cret");
  COAUTHIDENTITY* auth = identity.AuthIdentity();
  EXPECT_EQ(Text(auth->User, auth->UserLength), L"operator");
  EXPECT_EQ(Text(auth->Domain, auth->DomainLength), L"PLANT");
  EXPECT_EQ(Text(auth->Password, auth->PasswordLength), L"s3cret");
  EXPECT_EQ(auth->Flags, static_cast<ULONG>(SEC_WINNT_AUTH_IDENTITY_UNICODE));
  identity.Wipe();
  EXPECT_EQ(Text(auth->Password, auth->PasswordLength), std::wstring(6, L'\0'));
  EXPECT_EQ(Text(auth->User, auth->UserLength), L"operator");
}

}  // namespace
