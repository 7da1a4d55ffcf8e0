#include "opc/opc_connection.h"

#include "common/console_output.h"
#include "common/text_helpers.h"
#include "platform/codepage.h"

namespace {

std::u16string Wide(const std::string& text) { return platform::AnsiToUtf16(text); }
std::string Narrow(const std::u16string& text) { return platform::Utf16ToAnsi(text); }

// Case folding for ProgID comparison: ASCII and Latin-1 letters on UTF-16
// code units, so multibyte texts compare as characters, not bytes.
std::u16string Folded(std::u16string text) {
  for (char16_t& ch : text) {
    if ((ch >= u'A' && ch <= u'Z') || (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7)) ch += 32;
  }
  return text;
}

opc::CreationTarget CreationTargetOf(const ServerTarget& server) {
  opc::CreationTarget target;
  target.remote = server.remote;
  if (server.remote) {
    target.host = Wide(server.host);
    target.user = Wide(server.user);
    target.domain = Wide(server.domain);
    target.password = Wide(server.pass);
  }
  return target;
}

}  // namespace

ServerTarget TargetOf(const OpcSettings& settings) {
  return ServerTarget{settings.domain, settings.host, settings.user, settings.pass,
                      settings.isremote};
}

std::string ComErrorText(const OpcSession& session, int32_t code) {
  std::string text;
  if (session.connector != nullptr) text = session.connector->SystemMessageText(code);
  if (!text.empty()) {
    if (text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
  }
  uint32_t bits = static_cast<uint32_t>(code);
  uint32_t low = bits & 0xFFFF;
  if ((bits & 0x80000000u) && ((bits >> 16) & 0x1FFF) == 4 && low >= 0x201) {
    return FormatText("IDispatch error #%d", static_cast<int>(low - 0x200));
  }
  return FormatText("Unknown error 0x%0lX", static_cast<unsigned long>(bits));
}

std::string ServerErrorText(const OpcSession& session, int32_t code) {
  std::u16string text;
  if (session.opcServer && opc::Succeeded(session.opcServer->GetErrorString(code, &text))) {
    std::string narrow = Narrow(text);
    while (!narrow.empty() && (narrow.back() == '\n' || narrow.back() == '\r')) narrow.pop_back();
    if (!narrow.empty()) return narrow;
  }
  return ComErrorText(session, code);
}

DiscoverResult DiscoverServer(OpcSession& session, const ServerTarget& target,
                              const std::string& progid, opc::ClassId* classId) {
  std::shared_ptr<opc::OpcServerList> serverList;
  opc::Result result = session.connector->CreateServerList(CreationTargetOf(target), &serverList);
  if (opc::Failed(result) || !serverList) {
    if (!opc::Failed(result)) result = opc::kNoInterface;
    PrintText(session.env, "Error:" + ComErrorText(session, result));
    return target.remote ? DiscoverResult::kRemoteListFailed : DiscoverResult::kLocalListFailed;
  }
  std::vector<opc::ClassId> classes;
  result = serverList->EnumClassesOfCategories({opc::kCatidOpcDaServer20},
                                               {opc::kCatidOpcDaServer20}, &classes);
  if (result != opc::kOk) {
    PrintText(session.env, "Error:" + ComErrorText(session, result));
    return DiscoverResult::kEnumerationFailed;
  }
  PrintText(session.env, "\nOpc server found:");
  int n = 1;
  int match = 0;
  const std::u16string wanted = Folded(Wide(progid));
  for (const opc::ClassId& id : classes) {
    std::u16string progId, userType;
    serverList->GetClassDetails(id, &progId, &userType);
    PrintText(session.env, FormatText("\n%d: ProgID = %s (%s)", n, Narrow(progId).c_str(),
                                      Narrow(userType).c_str()));
    if (Folded(Wide(Narrow(progId))) == wanted) {
      serverList->CLSIDFromProgID(progId, classId);
      match = n;
    }
    ++n;
  }
  return match > 0 ? DiscoverResult::kFound : DiscoverResult::kNoMatch;
}

ConnectResult ConnectServer(OpcSession& session, const ServerTarget& target,
                            const opc::ClassId& classId) {
  PrintText(session.env, "\nConnecting to opc server: " +
                             (target.remote ? target.host : std::string("localhost")) + "...");
  std::shared_ptr<opc::OpcObject> server;
  opc::Result result = session.connector->CreateServer(classId, CreationTargetOf(target), &server);
  session.serverObject = server;
  if (opc::Failed(result) || !session.serverObject) {
    session.serverObject.reset();
    return ConnectResult::kCreationFailed;
  }
  std::shared_ptr<opc::OpcServer> opcServer;
  if (opc::Failed(session.serverObject->QueryServer(&opcServer)) || !opcServer) {
    session.opcServer.reset();
    session.serverObject.reset();
    return ConnectResult::kNoOpcServer;
  }
  session.opcServer = opcServer;
  session.serverUnknown = session.serverObject;
  session.connected = 1;
  PrintText(session.env, "\nSuccessfully connected to server!");
  return ConnectResult::kConnected;
}

GroupResult CreateGroup(OpcSession& session, const std::string& group) {
  PrintText(session.env, "\nCommunicating to opc server...");
  std::shared_ptr<opc::OpcObject> groupObject;
  opc::Result result = opc::kPointer;
  if (session.opcServer) {
    result = session.opcServer->AddGroup(Wide(group), true, 10, 1235, 0, 0.0f, 0, &groupObject);
  }
  if (opc::Failed(result) || !groupObject) {
    session.serverObject.reset();
    return GroupResult::kAddGroupFailed;
  }
  session.serverObject = groupObject;
  // The item handles were the previous group's; the new group holds none of
  // the items until they are added to it.
  session.handleByItemId.clear();
  for (OpcItem& entry : session.items) entry.serverHandle = 0;
  std::shared_ptr<opc::OpcItemMgt> itemMgt;
  if (opc::Failed(groupObject->QueryItemMgt(&itemMgt)) || !itemMgt) {
    session.itemMgt.reset();
    session.serverObject.reset();
    return GroupResult::kNoItemMgt;
  }
  session.itemMgt = itemMgt;
  PrintText(session.env, "\nSuccessfully communicated to server!");
  return GroupResult::kCreated;
}
