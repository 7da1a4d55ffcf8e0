// The settings the OPC client works with: the [SERVER] and [ITEMS] fields it
// needs, copied by app/ from its settings record when it creates the session.
#pragma once

#include <cstdint>
#include <string>

#include "common/text_helpers.h"
#include "opc/value_text.h"

struct OpcSettings {
  // Where the server runs and as whom the agent reaches it.
  std::string domain;
  std::string host;
  std::string user;
  std::string pass;
  bool isremote = false;
  // Which server, and the branch whose leaves are the agent's items.
  std::string progid;
  std::string group;
  std::string item;
  // The item list follows the server's leaves when autoitems is set: every
  // itemscf supervisor ticks, keeping the leaves that begin with one of the
  // prefixes (all when there are none).
  bool autoitems = false;
  TextList itemstartsList;
  int32_t itemscf = 0;
  // How value records are written (timebias, quality).
  RecordFormat records;
};
