// The OPC connector of the Windows build: real COM/DCOM with the interfaces
// declared by the project's own IDL (opcda.h, generated at build time).
//
// Every wrapper owns exactly one interface reference and releases it in its
// destructor, so a session that replaces its objects (reconnection every few
// seconds for weeks) never leaks. Every array, string and VARIANT a call
// hands back is copied into portable types and freed here (CoTaskMemFree,
// VariantClear). All calls run in the process's multithreaded apartment,
// which lets the client use an object from different threads over time.
// In a remote session every proxy carries the configured account (see
// opc_com_security.h); each wrapper shares the session's security record.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "opc/opc_server.h"
#include "opcda.h"
#include "platform/windows/com_creation_limit.h"
#include "platform/windows/opc_com_security.h"
#include "platform/windows/opc_com_values.h"

namespace opc {
namespace {

using comvalues::ComRef;
using comvalues::FromVariant;
using comvalues::ToVariant;
using comvalues::Wide;

GUID ToGuid(const ClassId& id) {
  GUID guid;
  std::memcpy(&guid, id.data(), sizeof guid);
  return guid;
}

ClassId FromGuid(const GUID& guid) {
  ClassId id;
  std::memcpy(id.data(), &guid, sizeof guid);
  return id;
}

std::u16string TakeString(LPWSTR text) {
  std::u16string copy;
  if (text != nullptr) copy = reinterpret_cast<const char16_t*>(text);
  CoTaskMemFree(text);
  return copy;
}

template <typename T>
void FreeArray(T* array) {
  CoTaskMemFree(array);
}

// The call security of one remote session: its account and how a proxy is
// given it. Shared by every wrapper of the session; null in a local session.
class SessionSecurity {
 public:
  SessionSecurity(std::shared_ptr<ProxyIdentity> identity, ProxySecurer secure)
      : identity_(std::move(identity)), secure_(std::move(secure)) {}

  // Gives one interface proxy the session's blanket. A proxy that does not
  // take it is used as it is (see opc_com_security.h).
  void Secure(IUnknown* proxy, REFIID iid) const {
    ProxyBlanket blanket;
    blanket.identity = identity_->AuthIdentity();
    secure_(proxy, iid, blanket);
  }

  // A new object: the interface it arrived as, and its IUnknown, which
  // carries QueryInterface, AddRef and Release to the server.
  void SecureObject(IUnknown* proxy, REFIID iid) const {
    Secure(proxy, iid);
    if (iid == IID_IUnknown) return;
    IUnknown* unknown = nullptr;
    if (SUCCEEDED(proxy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown))) &&
        unknown != nullptr) {
      Secure(unknown, IID_IUnknown);
      unknown->Release();
    }
  }

 private:
  const std::shared_ptr<ProxyIdentity> identity_;
  const ProxySecurer secure_;
};

using Security = std::shared_ptr<const SessionSecurity>;

class ComSyncIO : public OpcSyncIO {
 public:
  ComSyncIO(ComRef<IOPCSyncIO> io, Security security)
      : io_(std::move(io)), security_(std::move(security)) {}

  Result Read(uint32_t source, const std::vector<uint32_t>& serverHandles,
              std::vector<ItemState>* states, std::vector<Result>* errors) override {
    std::vector<OPCHANDLE> handles(serverHandles.begin(), serverHandles.end());
    OPCITEMSTATE* values = nullptr;
    HRESULT* codes = nullptr;
    HRESULT hr = io_->Read(static_cast<OPCDATASOURCE>(source), static_cast<DWORD>(handles.size()),
                           handles.empty() ? nullptr : handles.data(), &values, &codes);
    states->clear();
    errors->clear();
    if (SUCCEEDED(hr) && values != nullptr && codes != nullptr) {
      for (size_t i = 0; i < handles.size(); ++i) {
        ItemState state;
        state.clientHandle = values[i].hClient;
        state.timeStamp = (static_cast<uint64_t>(values[i].ftTimeStamp.dwHighDateTime) << 32) |
                          values[i].ftTimeStamp.dwLowDateTime;
        state.quality = values[i].wQuality;
        state.value = FromVariant(values[i].vDataValue);
        states->push_back(state);
        errors->push_back(codes[i]);
      }
    }
    if (values != nullptr) {
      for (size_t i = 0; i < handles.size(); ++i) VariantClear(&values[i].vDataValue);
    }
    FreeArray(values);
    FreeArray(codes);
    return hr;
  }

  Result Write(const std::vector<uint32_t>& serverHandles, const std::vector<Variant>& values,
               std::vector<Result>* errors) override {
    if (serverHandles.size() != values.size()) return kInvalidArg;
    std::vector<OPCHANDLE> handles(serverHandles.begin(), serverHandles.end());
    std::vector<VARIANT> variants(values.size());
    for (size_t i = 0; i < values.size(); ++i) ToVariant(values[i], &variants[i]);
    HRESULT* codes = nullptr;
    HRESULT hr = io_->Write(static_cast<DWORD>(handles.size()),
                            handles.empty() ? nullptr : handles.data(),
                            variants.empty() ? nullptr : variants.data(), &codes);
    for (VARIANT& variant : variants) VariantClear(&variant);
    errors->clear();
    if (SUCCEEDED(hr) && codes != nullptr) errors->assign(codes, codes + handles.size());
    FreeArray(codes);
    return hr;
  }

 private:
  ComRef<IOPCSyncIO> io_;
  const Security security_;  // kept while the proxy lives
};

// Asks from for iid; the new interface proxy gets the session's account.
template <typename T>
Result Query(IUnknown* from, REFIID iid, const Security& security, ComRef<T>* to) {
  T* raw = nullptr;
  HRESULT hr = from->QueryInterface(iid, reinterpret_cast<void**>(&raw));
  if (SUCCEEDED(hr) && raw == nullptr) hr = E_NOINTERFACE;
  if (FAILED(hr)) return hr;
  if (security) security->Secure(raw, iid);
  to->Reset(raw);
  return hr;
}

class ComItemMgt : public OpcItemMgt {
 public:
  ComItemMgt(ComRef<IOPCItemMgt> mgt, Security security)
      : mgt_(std::move(mgt)), security_(std::move(security)) {}

  Result AddItems(const std::vector<ItemDefinition>& items, std::vector<ItemResult>* results,
                  std::vector<Result>* errors) override {
    std::vector<std::wstring> paths, ids;
    std::vector<OPCITEMDEF> defs(items.size());
    paths.reserve(items.size());
    ids.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      paths.push_back(Wide(items[i].accessPath));
      ids.push_back(Wide(items[i].itemId));
      defs[i].szAccessPath = &paths.back()[0];
      defs[i].szItemID = &ids.back()[0];
      defs[i].bActive = items[i].active ? TRUE : FALSE;
      defs[i].hClient = items[i].clientHandle;
      defs[i].dwBlobSize = 0;
      defs[i].pBlob = nullptr;
      defs[i].vtRequestedDataType = items[i].requestedDataType;
      defs[i].wReserved = 0;
    }
    OPCITEMRESULT* added = nullptr;
    HRESULT* codes = nullptr;
    HRESULT hr = mgt_->AddItems(static_cast<DWORD>(defs.size()),
                                defs.empty() ? nullptr : defs.data(), &added, &codes);
    results->clear();
    errors->clear();
    if (SUCCEEDED(hr) && added != nullptr && codes != nullptr) {
      for (size_t i = 0; i < defs.size(); ++i) {
        ItemResult result;
        result.serverHandle = added[i].hServer;
        result.canonicalDataType = added[i].vtCanonicalDataType;
        result.accessRights = added[i].dwAccessRights;
        results->push_back(result);
        errors->push_back(codes[i]);
      }
    }
    if (added != nullptr) {
      for (size_t i = 0; i < defs.size(); ++i) CoTaskMemFree(added[i].pBlob);
    }
    FreeArray(added);
    FreeArray(codes);
    return hr;
  }

  Result RemoveItems(const std::vector<uint32_t>& serverHandles,
                     std::vector<Result>* errors) override {
    std::vector<OPCHANDLE> handles(serverHandles.begin(), serverHandles.end());
    HRESULT* codes = nullptr;
    HRESULT hr = mgt_->RemoveItems(static_cast<DWORD>(handles.size()),
                                   handles.empty() ? nullptr : handles.data(), &codes);
    errors->clear();
    if (SUCCEEDED(hr) && codes != nullptr) errors->assign(codes, codes + handles.size());
    FreeArray(codes);
    return hr;
  }

  Result QuerySyncIO(std::shared_ptr<OpcSyncIO>* syncIO) override {
    ComRef<IOPCSyncIO> io;
    HRESULT hr = Query(mgt_.get(), IID_IOPCSyncIO, security_, &io);
    if (SUCCEEDED(hr)) *syncIO = std::make_shared<ComSyncIO>(std::move(io), security_);
    return hr;
  }

 private:
  ComRef<IOPCItemMgt> mgt_;
  const Security security_;
};

class ComBrowse : public OpcBrowseServerAddressSpace {
 public:
  ComBrowse(ComRef<IOPCBrowseServerAddressSpace> browse, Security security)
      : browse_(std::move(browse)), security_(std::move(security)) {}

  Result ChangeBrowsePosition(uint32_t direction, const std::u16string& position) override {
    std::wstring text = Wide(position);
    return browse_->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(direction),
                                         text.c_str());
  }

  Result BrowseOPCItemIDs(uint32_t browseType, const std::u16string& filter,
                          uint16_t dataTypeFilter, uint32_t accessRightsFilter,
                          std::vector<std::u16string>* names) override {
    std::wstring text = Wide(filter);
    IEnumString* raw = nullptr;
    HRESULT hr = browse_->BrowseOPCItemIDs(static_cast<OPCBROWSETYPE>(browseType), text.c_str(),
                                           dataTypeFilter, accessRightsFilter, &raw);
    ComRef<IEnumString> strings(raw);
    names->clear();
    if (FAILED(hr) || !strings) return hr;
    if (security_) security_->SecureObject(strings.get(), IID_IEnumString);
    for (;;) {
      LPOLESTR name = nullptr;
      ULONG fetched = 0;
      if (strings->Next(1, &name, &fetched) != S_OK || fetched != 1) {
        CoTaskMemFree(name);
        break;
      }
      names->push_back(TakeString(name));
    }
    return hr;
  }

  Result GetItemID(const std::u16string& itemDataId, std::u16string* itemId) override {
    std::wstring text = Wide(itemDataId);
    LPWSTR full = nullptr;
    HRESULT hr = browse_->GetItemID(&text[0], &full);
    *itemId = TakeString(full);
    return hr;
  }

 private:
  ComRef<IOPCBrowseServerAddressSpace> browse_;
  const Security security_;
};

class ComProperties : public OpcItemProperties {
 public:
  ComProperties(ComRef<IOPCItemProperties> properties, Security security)
      : properties_(std::move(properties)), security_(std::move(security)) {}

  Result QueryAvailableProperties(const std::u16string& itemId, std::vector<uint32_t>* propertyIds,
                                  std::vector<std::u16string>* descriptions,
                                  std::vector<uint16_t>* dataTypes) override {
    std::wstring text = Wide(itemId);
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* texts = nullptr;
    VARTYPE* types = nullptr;
    HRESULT hr = properties_->QueryAvailableProperties(&text[0], &count, &ids, &texts, &types);
    propertyIds->clear();
    descriptions->clear();
    dataTypes->clear();
    for (DWORD i = 0; i < count; ++i) {
      if (SUCCEEDED(hr) && ids != nullptr) propertyIds->push_back(ids[i]);
      if (texts != nullptr) {
        std::u16string description = TakeString(texts[i]);
        if (SUCCEEDED(hr)) descriptions->push_back(description);
      }
      if (SUCCEEDED(hr) && types != nullptr) dataTypes->push_back(types[i]);
    }
    FreeArray(ids);
    FreeArray(texts);
    FreeArray(types);
    return hr;
  }

  Result GetItemProperties(const std::u16string& itemId, const std::vector<uint32_t>& propertyIds,
                           std::vector<Variant>* values, std::vector<Result>* errors) override {
    std::wstring text = Wide(itemId);
    std::vector<DWORD> ids(propertyIds.begin(), propertyIds.end());
    VARIANT* data = nullptr;
    HRESULT* codes = nullptr;
    HRESULT hr = properties_->GetItemProperties(&text[0], static_cast<DWORD>(ids.size()),
                                                ids.empty() ? nullptr : ids.data(), &data,
                                                &codes);
    values->clear();
    errors->clear();
    if (SUCCEEDED(hr) && data != nullptr && codes != nullptr) {
      for (size_t i = 0; i < ids.size(); ++i) {
        values->push_back(FromVariant(data[i]));
        errors->push_back(codes[i]);
      }
    }
    if (data != nullptr) {
      for (size_t i = 0; i < ids.size(); ++i) VariantClear(&data[i]);
    }
    FreeArray(data);
    FreeArray(codes);
    return hr;
  }

 private:
  ComRef<IOPCItemProperties> properties_;
  const Security security_;
};

class ComObject;

class ComServer : public OpcServer {
 public:
  ComServer(ComRef<IOPCServer> server, Security security)
      : server_(std::move(server)), security_(std::move(security)) {}

  Result AddGroup(const std::u16string& name, bool active, uint32_t requestedUpdateRate,
                  uint32_t clientGroupHandle, int32_t timeBias, float percentDeadband,
                  uint32_t localeId, std::shared_ptr<OpcObject>* group) override;

  // The server's own words for a code it gave, in the system's locale.
  Result GetErrorString(Result code, std::u16string* text) override {
    text->clear();
    LPWSTR raw = nullptr;
    HRESULT hr = server_->GetErrorString(static_cast<HRESULT>(code), LOCALE_SYSTEM_DEFAULT, &raw);
    if (SUCCEEDED(hr) && raw != nullptr) *text = comvalues::Utf16(raw);
    if (raw != nullptr) CoTaskMemFree(raw);
    return hr;
  }

 private:
  ComRef<IOPCServer> server_;
  const Security security_;
};

class ComObject : public OpcObject {
 public:
  ComObject(ComRef<IUnknown> unknown, Security security)
      : unknown_(std::move(unknown)), security_(std::move(security)) {}

  Result QueryServer(std::shared_ptr<OpcServer>* server) override {
    ComRef<IOPCServer> ref;
    HRESULT hr = Query(unknown_.get(), IID_IOPCServer, security_, &ref);
    if (SUCCEEDED(hr)) *server = std::make_shared<ComServer>(std::move(ref), security_);
    return hr;
  }
  Result QueryBrowse(std::shared_ptr<OpcBrowseServerAddressSpace>* browse) override {
    ComRef<IOPCBrowseServerAddressSpace> ref;
    HRESULT hr = Query(unknown_.get(), IID_IOPCBrowseServerAddressSpace, security_, &ref);
    if (SUCCEEDED(hr)) *browse = std::make_shared<ComBrowse>(std::move(ref), security_);
    return hr;
  }
  Result QueryProperties(std::shared_ptr<OpcItemProperties>* properties) override {
    ComRef<IOPCItemProperties> ref;
    HRESULT hr = Query(unknown_.get(), IID_IOPCItemProperties, security_, &ref);
    if (SUCCEEDED(hr)) *properties = std::make_shared<ComProperties>(std::move(ref), security_);
    return hr;
  }
  Result QueryItemMgt(std::shared_ptr<OpcItemMgt>* itemMgt) override {
    ComRef<IOPCItemMgt> ref;
    HRESULT hr = Query(unknown_.get(), IID_IOPCItemMgt, security_, &ref);
    if (SUCCEEDED(hr)) *itemMgt = std::make_shared<ComItemMgt>(std::move(ref), security_);
    return hr;
  }
  Result QuerySyncIO(std::shared_ptr<OpcSyncIO>* syncIO) override {
    ComRef<IOPCSyncIO> ref;
    HRESULT hr = Query(unknown_.get(), IID_IOPCSyncIO, security_, &ref);
    if (SUCCEEDED(hr)) *syncIO = std::make_shared<ComSyncIO>(std::move(ref), security_);
    return hr;
  }

 private:
  ComRef<IUnknown> unknown_;
  const Security security_;
};

Result ComServer::AddGroup(const std::u16string& name, bool active, uint32_t requestedUpdateRate,
                           uint32_t clientGroupHandle, int32_t timeBias, float percentDeadband,
                           uint32_t localeId, std::shared_ptr<OpcObject>* group) {
  std::wstring text = Wide(name);
  LONG bias = timeBias;
  FLOAT deadband = percentDeadband;
  OPCHANDLE serverGroup = 0;
  DWORD revisedRate = 0;
  IUnknown* raw = nullptr;
  HRESULT hr = server_->AddGroup(text.c_str(), active ? TRUE : FALSE, requestedUpdateRate,
                                 clientGroupHandle, &bias, &deadband, localeId, &serverGroup,
                                 &revisedRate, IID_IUnknown, &raw);
  ComRef<IUnknown> unknown(raw);
  if (SUCCEEDED(hr) && !unknown) hr = E_NOINTERFACE;
  if (FAILED(hr)) return hr;
  if (security_) security_->SecureObject(unknown.get(), IID_IUnknown);
  *group = std::make_shared<ComObject>(std::move(unknown), security_);
  return hr;
}

class ComServerList : public OpcServerList {
 public:
  ComServerList(ComRef<IOPCServerList> list, Security security)
      : list_(std::move(list)), security_(std::move(security)) {}

  Result EnumClassesOfCategories(const std::vector<ClassId>& implemented,
                                 const std::vector<ClassId>& required,
                                 std::vector<ClassId>* classes) override {
    std::vector<CATID> impl, req;
    for (const ClassId& id : implemented) impl.push_back(ToGuid(id));
    for (const ClassId& id : required) req.push_back(ToGuid(id));
    IEnumGUID* raw = nullptr;
    HRESULT hr = list_->EnumClassesOfCategories(
        static_cast<ULONG>(impl.size()), impl.empty() ? nullptr : impl.data(),
        static_cast<ULONG>(req.size()), req.empty() ? nullptr : req.data(), &raw);
    ComRef<IEnumGUID> ids(raw);
    classes->clear();
    if (FAILED(hr) || !ids) return hr;
    if (security_) security_->SecureObject(ids.get(), IID_IEnumGUID);
    GUID guid;
    ULONG fetched = 0;
    while (ids->Next(1, &guid, &fetched) == S_OK && fetched == 1) {
      classes->push_back(FromGuid(guid));
    }
    return hr;
  }

  Result GetClassDetails(const ClassId& classId, std::u16string* progId,
                         std::u16string* userType) override {
    GUID guid = ToGuid(classId);
    LPOLESTR prog = nullptr;
    LPOLESTR user = nullptr;
    HRESULT hr = list_->GetClassDetails(guid, &prog, &user);
    *progId = TakeString(prog);
    *userType = TakeString(user);
    return hr;
  }

  Result CLSIDFromProgID(const std::u16string& progId, ClassId* classId) override {
    std::wstring text = Wide(progId);
    GUID guid = ToGuid(*classId);
    HRESULT hr = list_->CLSIDFromProgID(text.c_str(), &guid);
    *classId = FromGuid(guid);
    return hr;
  }

 private:
  ComRef<IOPCServerList> list_;
  const Security security_;
};

// Creates an object of classId and asks it for iid: a local server, or one on
// target.host activated with identity (packet integrity, impersonation). A
// remote outcome is judged by the MULTI_QI entry's own result as well, since
// the call can succeed while the interface did not arrive.
HRESULT CreateObject(const GUID& classId, REFIID iid, const CreationTarget& target,
                     COAUTHIDENTITY* identity, IUnknown** object) {
  *object = nullptr;
  if (!target.remote) {
    HRESULT hr = CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, iid,
                                  reinterpret_cast<void**>(object));
    if (SUCCEEDED(hr) && *object == nullptr) hr = E_NOINTERFACE;
    return hr;
  }
  std::wstring host = Wide(target.host);
  COAUTHINFO auth = {};
  auth.dwAuthnSvc = RPC_C_AUTHN_WINNT;
  auth.dwAuthzSvc = RPC_C_AUTHZ_NONE;
  auth.pwszServerPrincName = nullptr;
  auth.dwAuthnLevel = RPC_C_AUTHN_LEVEL_PKT_INTEGRITY;
  auth.dwImpersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
  auth.pAuthIdentityData = identity;
  auth.dwCapabilities = EOAC_NONE;
  COSERVERINFO server = {};
  server.pwszName = &host[0];
  server.pAuthInfo = &auth;
  MULTI_QI entry = {&iid, nullptr, E_NOINTERFACE};
  HRESULT hr = CoCreateInstanceEx(classId, nullptr, CLSCTX_REMOTE_SERVER, &server, 1, &entry);
  if (FAILED(hr)) {
    if (entry.pItf != nullptr) entry.pItf->Release();
    return hr;
  }
  if (FAILED(entry.hr) || entry.pItf == nullptr) {
    if (entry.pItf != nullptr) entry.pItf->Release();
    return FAILED(entry.hr) ? entry.hr : E_NOINTERFACE;
  }
  *object = entry.pItf;
  return hr;
}

class ComConnector : public OpcConnector {
 public:
  ComConnector(uint32_t creationLimitMs, ComConnectorHooks hooks)
      : creationLimitMs_(creationLimitMs),
        create_(hooks.create ? std::move(hooks.create) : ObjectCreator(CreateObject)),
        secure_(hooks.secure ? std::move(hooks.secure) : ProxySecurer(SetProxyBlanket)) {}

  Result CreateServerList(const CreationTarget& target,
                          std::shared_ptr<OpcServerList>* serverList) override {
    ComRef<IOPCServerList> list;
    Security security;
    HRESULT hr = Create(CLSID_OpcServerList, IID_IOPCServerList, target, &list, &security);
    if (FAILED(hr)) return hr;
    *serverList = std::make_shared<ComServerList>(std::move(list), security);
    return hr;
  }

  Result CreateServer(const ClassId& classId, const CreationTarget& target,
                      std::shared_ptr<OpcObject>* server) override {
    ComRef<IUnknown> object;
    Security security;
    HRESULT hr = Create(ToGuid(classId), IID_IUnknown, target, &object, &security);
    if (FAILED(hr)) return hr;
    *server = std::make_shared<ComObject>(std::move(object), security);
    return hr;
  }

  std::string SystemMessageText(Result result) override {
    std::string text = MessageIn(result, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    // Some systems carry a code's text in the user's language only; language
    // 0 lets the system pick it rather than reporting the code as unknown.
    if (text.empty()) text = MessageIn(result, 0);
    return text;
  }

 private:
  // Creates an object of classId as iid, giving up after the creation limit.
  // A remote session gets its own identity record: the creation uses it, and
  // so does every proxy of the session (security, shared by their wrappers),
  // the object first of all. The creation thread holds what it uses itself,
  // the identity included, in case it is abandoned.
  template <typename T>
  HRESULT Create(const GUID& classId, REFIID iid, const CreationTarget& target, ComRef<T>* object,
                 Security* security) {
    std::shared_ptr<ProxyIdentity> identity;
    if (target.remote) {
      identity = std::make_shared<ProxyIdentity>(target.user, target.domain, target.password);
    }
    CreationTarget where = target;
    where.password.clear();  // the identity record carries it
    const IID wanted = iid;
    const ObjectCreator create = create_;
    IUnknown* raw = nullptr;
    HRESULT hr = comcreation::CreateWithinLimit(
        [create, classId, wanted, where, identity](IUnknown** created) {
          return create(classId, wanted, where, identity ? identity->AuthIdentity() : nullptr,
                        created);
        },
        creationLimitMs_, &raw);
    // The creation hands back the interface asked for, as an IUnknown*.
    ComRef<T> created(static_cast<T*>(static_cast<void*>(raw)));
    if (SUCCEEDED(hr) && !created) hr = E_NOINTERFACE;
    if (FAILED(hr)) return hr;
    if (identity) {
      *security = std::make_shared<SessionSecurity>(identity, secure_);
      (*security)->SecureObject(created.get(), iid);
    }
    *object = std::move(created);
    return hr;
  }

  const uint32_t creationLimitMs_;  // how long a creation is waited for
  const ObjectCreator create_;
  const ProxySecurer secure_;

  static std::string MessageIn(Result result, DWORD language) {
    char* buffer = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(result), language, reinterpret_cast<char*>(&buffer), 0,
        nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    return text;
  }
};

}  // namespace

std::unique_ptr<OpcConnector> CreatePlatformConnector(const std::string& /*baseDirectory*/) {
  // The end-to-end tests shorten the creation limit through the environment,
  // so that a server that never answers is given up within a test's wait.
  uint32_t limitMs = comcreation::kDefaultCreationLimitMs;
  if (const char* text = std::getenv("TALVERO_CREATION_LIMIT_MS")) {
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (value > 0) limitMs = static_cast<uint32_t>(value);
  }
  return CreateComConnector(limitMs);
}

ProxyIdentity::ProxyIdentity(const std::u16string& user, const std::u16string& domain,
                             const std::u16string& password)
    : user_(Wide(user)), domain_(Wide(domain)), password_(Wide(password)) {
  identity_.User = reinterpret_cast<USHORT*>(&user_[0]);
  identity_.UserLength = static_cast<ULONG>(user_.size());
  identity_.Domain = reinterpret_cast<USHORT*>(&domain_[0]);
  identity_.DomainLength = static_cast<ULONG>(domain_.size());
  identity_.Password = reinterpret_cast<USHORT*>(&password_[0]);
  identity_.PasswordLength = static_cast<ULONG>(password_.size());
  identity_.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
}

ProxyIdentity::~ProxyIdentity() { Wipe(); }

void ProxyIdentity::Wipe() {
  if (!password_.empty()) SecureZeroMemory(&password_[0], password_.size() * sizeof(wchar_t));
}

HRESULT SetProxyBlanket(IUnknown* proxy, REFIID /*iid*/, const ProxyBlanket& blanket) {
  return CoSetProxyBlanket(proxy, blanket.authenticationService, blanket.authorizationService,
                           nullptr, blanket.authenticationLevel, blanket.impersonationLevel,
                           blanket.identity, blanket.capabilities);
}

std::unique_ptr<OpcConnector> CreateComConnector(uint32_t creationLimitMs,
                                                 ComConnectorHooks hooks) {
  return std::unique_ptr<OpcConnector>(new ComConnector(creationLimitMs, std::move(hooks)));
}

}  // namespace opc
