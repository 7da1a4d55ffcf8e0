#include "tests/support/opc_server_contract.h"

INSTANTIATE_TEST_SUITE_P(Simulation, OpcServerContract,
                         testing::Values(OpcContractAdapter{"simulation",
                                                            opc::CreatePlatformConnector}));
