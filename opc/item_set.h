// The item set: the tags file and the item store of the data folder, the
// browse of the server's leaves, and adding the items to the group. Runs
// inside a holder of the session lock; prints on the session's console and
// reaches the files through the session's environment.
#pragma once

#include <string>

#include "common/text_helpers.h"
#include "opc/opc_session.h"

// Lists the leaf names under group.item into list and records each leaf's
// canonical data type in typeByItemId.
void BrowseLeafItems(OpcSession& session, const std::string& group, const std::string& item,
                     TextList* list);

// With autoitems and a connection: browses, writes the leaves that pass the
// prefixes to items.db, and copies it over tags.txt when the leaves changed.
// A store or copy that fails is reported with its cause; the refresh goes on.
void RefreshTagsFile(OpcSession& session);

// Loads tags.txt into the item table and adds it. False, with the table
// unchanged, when the file does not exist or cannot be read; the caller tells
// the operator (after releasing the session lock, so no other user waits on
// the box).
bool ReloadTags(OpcSession& session);

// Rebuilds the item table from names and adds them to the group.
void AddItemSet(OpcSession& session, const std::string& group, const std::string& item,
                TextList names);
