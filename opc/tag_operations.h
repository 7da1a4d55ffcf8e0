// The reads, writes and listing of the OPC client: the API operations of the
// OPC worker and the sampler's read. Answers are the texts the HTTP layer and
// the sampler pass on. Each runs inside a holder of the session lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/text_helpers.h"
#include "opc/opc_session.h"

// The API read of a comma list of tags; every item of the table when empty.
std::string ReadTags(OpcSession& session, const std::string& group, const std::string& item,
                     const std::string& tags);
std::string ReadAllItems(OpcSession& session);

// One item's value as a read gave it.
struct ItemValue {
  std::string name;    // the item's tag name
  std::string text;    // VariantToText of the value
  std::string record;  // its value record (time, and quality when asked for)
};

// The sampler's read: the values of the first count items of the table, in
// table order, from the device. False when the read fails: connected falls to
// 0 and "\nRead error" is printed. Keeps nothing: what was forwarded is the
// sampler's own record, which no API read touches.
bool ReadItemValues(OpcSession& session, int32_t count, std::vector<ItemValue>* values);

// The leaf names under group.item that begin with one of the filters.
std::string ListLeafItems(OpcSession& session, const std::string& group, const std::string& item,
                          const std::string& filters);

// The API write of a comma list of tag:value entries, in one call.
std::string WriteTags(OpcSession& session, const std::string& group, const std::string& item,
                      const std::string& tagkvs);
