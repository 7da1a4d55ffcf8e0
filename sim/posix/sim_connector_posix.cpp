// The OPC connector of the Linux build: the simulation server in process.
#include <cstdio>

#include "opc/opc_server.h"
#include "sim/sim_engine.h"

namespace opc {
namespace {

class SimConnector : public OpcConnector {
 public:
  explicit SimConnector(const std::string& baseDirectory) {
    environment_.folder = baseDirectory + "/data";
  }

  Result CreateServerList(const CreationTarget& target,
                          std::shared_ptr<OpcServerList>* serverList) override {
    // There is no DCOM here: a remote host is never reachable.
    if (target.remote) return kServerUnavailable;
    return sim::CreateSimServerList(environment_, serverList);
  }

  Result CreateServer(const ClassId& classId, const CreationTarget& target,
                      std::shared_ptr<OpcObject>* server) override {
    if (target.remote) return kServerUnavailable;
    return sim::CreateSimServer(environment_, classId, server);
  }

  std::string SystemMessageText(Result result) override {
    switch (static_cast<uint32_t>(result)) {
      case 0x00000000u:
        return "The operation completed successfully.\r\n";
      case 0x80004001u:
        return "Not implemented\r\n";
      case 0x80004002u:
        return "No such interface supported\r\n";
      case 0x80004003u:
        return "Invalid pointer\r\n";
      case 0x80004005u:
        return "Unspecified error\r\n";
      case 0x80070005u:
        return "Access is denied.\r\n";
      case 0x80070057u:
        return "The parameter is incorrect.\r\n";
      case 0x8007000Eu:
        return "Not enough memory resources are available to complete this operation.\r\n";
      case 0x80040154u:
        return "Class not registered\r\n";
      case 0x80080005u:
        return "Server execution failed\r\n";
      case 0x800706BAu:
        return "The RPC server is unavailable.\r\n";
      case 0x80010108u:
        return "The object invoked has disconnected from its clients.\r\n";
      case 0x800401F3u:
        return "Invalid class string\r\n";
      default:
        return "";
    }
  }

 private:
  sim::SimEnvironment environment_;
};

}  // namespace

std::unique_ptr<OpcConnector> CreatePlatformConnector(const std::string& baseDirectory) {
  return std::unique_ptr<OpcConnector>(new SimConnector(baseDirectory));
}

}  // namespace opc
