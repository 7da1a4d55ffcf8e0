// Server discovery and connection: from nothing to a usable OPC group. Each
// step reports its progress on the session's console; the caller prints the
// closing message. They run inside a holder of the session lock.
#pragma once

#include <cstdint>
#include <string>

#include "opc/opc_session.h"

// DiscoverServer's outcome (the values are those the operator's documents name).
enum class DiscoverResult : int32_t {
  kFound = 0,              // a server whose ProgID matches was listed
  kRemoteListFailed = 2,   // creating the server-list service on the host failed
  kLocalListFailed = 4,    // creating the local server-list service failed
  kEnumerationFailed = 6,  // the category enumeration did not answer S_OK
  kNoMatch = 8,            // the servers were listed and no ProgID matched
};

// ConnectServer's outcome.
enum class ConnectResult : int32_t {
  kConnected = 0,        // opcServer set, connected is 1
  kCreationFailed = 32,  // creating the server object failed
  kNoOpcServer = 64,     // the object offers no IOPCServer
};

// CreateGroup's outcome.
enum class GroupResult : int32_t {
  kCreated = 0,  // group added, itemMgt set
  kAddGroupFailed = 1,
  kNoItemMgt = 2,  // the group offers no IOPCItemMgt
};

// Where and as whom the server is reached; from the session's settings.
struct ServerTarget {
  std::string domain;
  std::string host;
  std::string user;
  std::string pass;
  bool remote = false;
};
ServerTarget TargetOf(const OpcSettings& settings);

// Lists the servers of the OPC DA 2.0 category and picks the one whose ProgID
// equals progid (case-insensitive; the last match wins) into classId.
DiscoverResult DiscoverServer(OpcSession& session, const ServerTarget& target,
                              const std::string& progid, opc::ClassId* classId);

// Creates the server object of classId and takes its IOPCServer.
ConnectResult ConnectServer(OpcSession& session, const ServerTarget& target,
                            const opc::ClassId& classId);

// Adds the agent's group and takes its item management.
GroupResult CreateGroup(OpcSession& session, const std::string& group);

// The message text of a COM result code, as the session's connector gives it.
std::string ComErrorText(const OpcSession& session, int32_t code);

// The text of a result code the server gave: the server's own text when it
// has one, otherwise ComErrorText.
std::string ServerErrorText(const OpcSession& session, int32_t code);
