// The item set: the tags file and the item store of the data folder, the
// browse of the server's leaves, and adding the items to the group. Runs
// inside a holder of the session lock; prints on the session's console and
// reaches the files through the session's environment.
#pragma once

#include <string>

#include "common/text_helpers.h"
#include "opc/opc_session.h"

// Moves the browse position to group.item and lists the leaves there. False
// when the position cannot be reached or the listing fails; the position is
// then wherever the server left it.
bool BrowseBranchLeaves(opc::OpcBrowseServerAddressSpace& browse, const std::string& group,
                        const std::string& item, std::vector<std::u16string>* names);

// Lists the leaf names under group.item into list and records each leaf's
// canonical data type in typeByItemId. False, with list and typeByItemId
// unchanged, when the server offers no browsing or the branch cannot be
// browsed (a server gone since the last read, a branch it does not know).
bool BrowseLeafItems(OpcSession& session, const std::string& group, const std::string& item,
                     TextList* list);

// With autoitems and a connection: browses, writes the leaves that pass the
// prefixes to items.db, and copies it over tags.txt when the leaves changed.
// A failed browse rewrites nothing and counts as a lost connection, so the
// supervisor reconnects. A store or copy that fails is reported with its
// cause, and the copy is tried again at the next refresh.
void RefreshTagsFile(OpcSession& session);

// Loads tags.txt into the item table and adds it. False, with the table
// unchanged, when the file does not exist or cannot be read; the caller tells
// the operator (after releasing the session lock, so no other user waits on
// the box).
bool ReloadTags(OpcSession& session);

// Rebuilds the item table from names and adds them to the group.
void AddItemSet(OpcSession& session, const std::string& group, const std::string& item,
                TextList names);
