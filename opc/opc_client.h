// The OPC DA client: discovery, connection, item set, reads, writes and the
// connection supervisor. Every operation here runs inside a holder of
// opcSession->lock (see opc_session.h) and takes no lock of its own, except
// SuperviseTick, which is itself a top-level user and takes the lock.
#pragma once

#include <cstdint>
#include <string>

#include "common/text_helpers.h"
#include "opc/opc_server.h"

// The full OPC item id of a tag: group "." item "." tag.
std::string ItemId(const std::string& group, const std::string& item, const std::string& tag);

// The class id of the chosen server: written by DiscoverServer, read by every
// ConnectServer. Touched by startup, then by the supervisor thread only.
extern opc::ClassId serverClassId;

// Lists the servers of the OPC DA 2.0 category and picks the one whose ProgID
// equals progid (case-insensitive; the last match wins). 0 found, 2 remote
// list service failed, 4 local list service failed, 6 enumeration failed,
// 8 no match.
int32_t DiscoverServer(const std::string& domain, const std::string& host, const std::string& user,
                       const std::string& pass, const std::string& progid, bool remote,
                       opc::ClassId* classId);

// Creates the server object. 0 connected, 32 creation failed, 64 no IOPCServer.
int32_t ConnectServer(const std::string& domain, const std::string& host, const std::string& user,
                      const std::string& pass, opc::ClassId classId, bool remote);

// Adds the agent's group. 0 added, 1 AddGroup failed, 2 no IOPCItemMgt.
int32_t CreateGroup(const std::string& group);

// The message text of a COM result code.
std::string ComErrorText(int32_t code);

// Text of a value as the agent reports it; empty for unsupported types.
std::string VariantToText(const opc::Variant& value);

// A value of the item's canonical type made from a text.
opc::Variant TextToVariant(int32_t type, const std::string& text);

// {"i":"name","v":"value","t":t}; name and value escaped for JSON, so a tag
// name with a quote cannot break the answer or an upload that carries it.
std::string ValueRecord(const std::string& name, const std::string& value, int32_t t);

// The record's t of a FILETIME: whole seconds since 1970 minus eight hours,
// computed modulo 2^64 and cut to 32 bits (receivers rely on exactly this).
int32_t TimeStampSeconds(uint64_t fileTime);

// The leaf names of the last browse by startup or RefreshTagsFile.
extern TextList browsedItems;

// Item set (tags file, browse, add).
// Loads data/tags.txt into the item table and adds it. False, with the table
// unchanged, when the file does not exist; the caller tells the operator
// (after releasing the session lock, so no other user waits on the box).
bool ReloadTags();
void AddItemSet(const std::string& group, const std::string& item, TextList names);
void BrowseLeafItems(const std::string& group, const std::string& item, TextList* list);
void RefreshTagsFile();
// The lines of a tags file: LF or CR LF ends a line; a last line without an
// end counts; a final line end adds no empty tag.
TextList TagLines(const std::string& content);

// API reads, listing and writes; answers are the texts the HTTP layer sends.
std::string ReadTags(const std::string& group, const std::string& item, const std::string& tags);
std::string ReadAllItems();
std::string ReadChangedItems(int32_t count, TextList names);
std::string ListLeafItems(const std::string& group, const std::string& item,
                          const std::string& filters);
std::string WriteTags(const std::string& group, const std::string& item, const std::string& tagkvs);

// One tick of the connection supervisor (every 1000 ms); takes the session lock.
void SuperviseTick();
