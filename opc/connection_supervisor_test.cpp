#include "opc/connection_supervisor.h"

#include <gtest/gtest.h>

#include "opc/tag_operations.h"
#include "tests/support/opc_test_session.h"

namespace {

TEST_F(OpcSessionTest, AReconnectionAddsTheItemsBeforeAnyReadCanSeeTheNewConnection) {
  // A server that fails every read is noticed as lost ...
  std::string simulation = kSessionSimulation;
  Write("simulation.ini",
        std::string(simulation).replace(simulation.find("fail="), 5, "fail=read"));
  Write("tags.txt", "Small\nText\n");
  session_.settings.autoitems = false;
  session_.settings.group = "G";
  session_.serverClassId = sim::kSimServerClassId;
  Connect({"Small", "Text"});
  EXPECT_EQ(ReadAllItems(session_), "Read error");
  ASSERT_EQ(session_.connected, 0);
  // ... and its healthy successor is connected by one supervisor tick. The
  // very next read (the sampler's, between two ticks) goes through the new
  // group: were it still read through the lost server's group it would fail
  // and count the fresh connection as lost, again and again.
  Write("simulation.ini", simulation);
  ConnectionSupervisor supervisor;
  EXPECT_FALSE(supervisor.Tick(session_));
  std::string out = env_.TakeConsole();
  EXPECT_NE(out.find("\nConnect to opc server failed, retrying...\nConnecting to opc server: "
                     "localhost...\nSuccessfully connected to server!"),
            std::string::npos)
      << out;
  ASSERT_EQ(session_.connected, 1);
  std::string values = ReadAllItems(session_);
  EXPECT_EQ(values.rfind(R"([{"i":"Small","v":"1",)", 0), 0u) << values;
  EXPECT_EQ(session_.connected, 1);
  EXPECT_EQ(session_.items.size(), 2u);
}

}  // namespace
