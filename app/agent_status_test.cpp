#include "app/agent_status.h"

#include <gtest/gtest.h>

namespace {

TEST(AgentStatusTest, UrlsLoseTheirSecrets) {
  EXPECT_EQ(UrlWithoutSecrets("http://user:pw@host:81/in?token=x#f"), "http://host:81/in");
  EXPECT_EQ(UrlWithoutSecrets("https://user@host/in"), "https://host/in");
  EXPECT_EQ(UrlWithoutSecrets("http://host/p@th?k=v"), "http://host/p@th");
  EXPECT_EQ(UrlWithoutSecrets("http://a:b@host"), "http://host");
  EXPECT_EQ(UrlWithoutSecrets("http://host:8081/upload"), "http://host:8081/upload");
  EXPECT_EQ(UrlWithoutSecrets(""), "");
}

TEST(AgentStatusTest, EveryMemberIsWrittenAndTextsAreEscaped) {
  AgentStatus status;
  status.version = "1.0";
  status.startedMs = 1796819074123;
  status.connected = true;
  status.progid = "Talvero.Simulation.1";
  status.lastReadMs = 1796819074001;
  status.readFailures = 7;
  status.stalledMs = 31250;
  status.itemsAdded = 5;
  status.itemsFailed = 1;
  status.spoolFiles = 3;
  status.spoolBytes = 5000000000ULL;
  status.spoolOldest = "1796819070000.txt";
  status.uploadHost = "http://host/in";
  status.lastAcceptedMs = 1796819074000;
  status.lastFailedMs = 1796819073000;
  status.lastFailure = "answered \"NO\"";
  status.activeConnections = 2;
  EXPECT_EQ(AgentStatusJson(status),
            "{\"version\":\"1.0\",\"started\":1796819074123,"
            "\"opc\":{\"connected\":true,\"progid\":\"Talvero.Simulation.1\","
            "\"lastRead\":1796819074001,\"readFailures\":7,\"stalledMs\":31250},"
            "\"items\":{\"added\":5,\"failed\":1},"
            "\"spool\":{\"files\":3,\"bytes\":5000000000,\"oldest\":\"1796819070000.txt\"},"
            "\"upload\":{\"host\":\"http://host/in\",\"accepted\":1796819074000,"
            "\"failed\":1796819073000,\"failure\":\"answered \\\"NO\\\"\"},"
            "\"http\":{\"busy\":2}}");
}

}  // namespace
