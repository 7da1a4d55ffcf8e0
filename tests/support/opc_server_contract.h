// The contract every OPC server adapter honours, as reusable GoogleTest cases.
//
// The cases run against the simulation server configured by the
// simulation.ini that SetUp writes into <folder>/data. An adapter joins them
// with one line in a test file of its own build:
//   INSTANTIATE_TEST_SUITE_P(Com, OpcServerContract,
//                            testing::Values(OpcContractAdapter{"com", MakeComConnector}));
// where the factory returns the adapter's connector for that base folder.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "opc/opc_server.h"

struct OpcContractAdapter {
  std::string name;
  std::function<std::unique_ptr<opc::OpcConnector>(const std::string& baseDirectory)> make;
  // True when the server list is the simulation's own, which lists the
  // file's other servers and honours its list and enumeration faults; a
  // system server list lists what the registry holds.
  bool simulatedServerList = true;
};

inline std::ostream& operator<<(std::ostream& out, const OpcContractAdapter& adapter) {
  return out << adapter.name;
}

class OpcServerContract : public testing::TestWithParam<OpcContractAdapter> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Rewrites data/simulation.ini; the next creation reads it.
  void WriteSimulation(const std::string& text);
  void SetServerDown(bool down);
  // Repeats call until it answers expected; false when it has not within a
  // few seconds.
  bool ResultWithin(const std::function<opc::Result()>& call, opc::Result expected);
  // A connected server object, its IOPCServer, a group and its interfaces.
  void Connect();

  std::string base_;
  std::unique_ptr<opc::OpcConnector> connector_;
  std::shared_ptr<opc::OpcObject> object_;
  std::shared_ptr<opc::OpcServer> server_;
  std::shared_ptr<opc::OpcObject> group_;
  std::shared_ptr<opc::OpcItemMgt> itemMgt_;
  std::shared_ptr<opc::OpcSyncIO> syncIO_;
};

// The simulation.ini the contract cases start from.
extern const char* const kContractSimulation;
