// The reads, writes and listing of the OPC client: the API operations of the
// OPC worker and the sampler's read. Answers are the texts the HTTP layer and
// the sampler pass on. Each runs inside a holder of the session lock.
#pragma once

#include <cstdint>
#include <string>

#include "common/text_helpers.h"
#include "opc/opc_session.h"

// The API read of a comma list of tags; every item of the table when empty.
std::string ReadTags(OpcSession& session, const std::string& group, const std::string& item,
                     const std::string& tags);
std::string ReadAllItems(OpcSession& session);

// The sampler's read: the records of the first count items whose value text
// changed since their last read, joined by ","; empty when none did.
std::string ReadChangedItems(OpcSession& session, int32_t count, TextList names);

// The leaf names under group.item that begin with one of the filters.
std::string ListLeafItems(OpcSession& session, const std::string& group, const std::string& item,
                          const std::string& filters);

// The API write of a comma list of tag:value entries, in one call.
std::string WriteTags(OpcSession& session, const std::string& group, const std::string& item,
                      const std::string& tagkvs);
