// The OPC server contract, run through the COM connector against the
// simulation servers as COM local servers, across the process boundary and
// the project's proxy/stub. Among other things this proves that the [out]
// strings of GetClassDetails and GetItemID arrive, which widl 7/8 proxies
// lose without the build's correction.
#include <windows.h>
// After <windows.h>, which it relies on.
#include <objbase.h>

#include "tests/support/opc_server_contract.h"
#include "tests/support/windows/sim_com_install.h"

namespace {

// The COM connector with the calling thread in a COM apartment for as long
// as the connector lives: the multithreaded one, as in the agent, unless an
// earlier test of this process left the thread in a single-threaded one
// (the HTTP client keeps its thread's), whose proxies serve as well.
class ApartmentConnector : public opc::OpcConnector {
 public:
  explicit ApartmentConnector(const std::string& baseDirectory)
      : apartment_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)),
        installed_(simcomtest::InstallSimulationServers(baseDirectory)),
        connector_(opc::CreatePlatformConnector(baseDirectory)) {}
  ~ApartmentConnector() override {
    connector_.reset();
    if (SUCCEEDED(apartment_)) CoUninitialize();
  }
  bool ready() const {
    return (SUCCEEDED(apartment_) || apartment_ == RPC_E_CHANGED_MODE) && installed_;
  }

  opc::Result CreateServerList(const opc::CreationTarget& target,
                               std::shared_ptr<opc::OpcServerList>* list) override {
    return connector_->CreateServerList(target, list);
  }
  opc::Result CreateServer(const opc::ClassId& id, const opc::CreationTarget& target,
                           std::shared_ptr<opc::OpcObject>* server) override {
    return connector_->CreateServer(id, target, server);
  }
  std::string SystemMessageText(opc::Result result) override {
    return connector_->SystemMessageText(result);
  }

 private:
  HRESULT apartment_;
  bool installed_;
  std::unique_ptr<opc::OpcConnector> connector_;
};

std::unique_ptr<opc::OpcConnector> MakeComConnector(const std::string& baseDirectory) {
  std::unique_ptr<ApartmentConnector> connector(new ApartmentConnector(baseDirectory));
  if (!connector->ready()) return nullptr;
  return std::unique_ptr<opc::OpcConnector>(connector.release());
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Com, OpcServerContract,
                         testing::Values(OpcContractAdapter{"com", MakeComConnector, false}));
