#include "simcom/sim_com_objects.h"

#include <comcat.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/windows/opc_com_values.h"

namespace simcom {

const wchar_t kServerProgId[] = L"Talvero.Simulation.1";
const wchar_t kServerUserType[] = L"Talvero Simulation Server";

namespace {

HANDLE g_done = nullptr;  // set once; signalled when the server may end

using comvalues::FromVariant;
using comvalues::ToVariant;
using comvalues::Utf16;
using comvalues::Wide;

LPWSTR CopyToTask(const std::u16string& text) {
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (copy == nullptr) return nullptr;
  for (size_t i = 0; i < text.size(); ++i) copy[i] = static_cast<wchar_t>(text[i]);
  copy[text.size()] = 0;
  return copy;
}

template <typename T>
T* TaskArray(size_t count) {
  return static_cast<T*>(CoTaskMemAlloc((count == 0 ? 1 : count) * sizeof(T)));
}

sim::SimEnvironment Environment() {
  sim::SimEnvironment environment;
  environment.folder = DataFolder();
  return environment;
}

// Reference counting and server-process lifetime shared by every object.
class Counted {
 public:
  Counted() { CoAddRefServerProcess(); }
  virtual ~Counted() {
    // The last object gone: COM has suspended the class objects already, so
    // no new creation can race with the host's exit.
    if (CoReleaseServerProcess() == 0 && g_done != nullptr) SetEvent(g_done);
  }
  ULONG AddRefImpl() { return ++references_; }
  ULONG ReleaseImpl() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

#define SIMCOM_IUNKNOWN                                                   \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }     \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

class EnumString : public IEnumString, public Counted {
 public:
  explicit EnumString(std::vector<std::u16string> names) : names_(std::move(names)) {}
  SIMCOM_IUNKNOWN
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IEnumString) {
      *out = static_cast<IEnumString*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, LPOLESTR* names, ULONG* fetched) override {
    ULONG done = 0;
    while (done < count && position_ < names_.size()) names[done++] = CopyToTask(names_[position_++]);
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ = std::min(names_.size(), position_ + count);
    return position_ < names_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumString** out) override {
    auto* copy = new EnumString(names_);
    copy->position_ = position_;
    *out = copy;
    return S_OK;
  }

 private:
  std::vector<std::u16string> names_;
  size_t position_ = 0;
};

class Group : public IOPCItemMgt, public IOPCSyncIO, public Counted {
 public:
  explicit Group(std::shared_ptr<opc::OpcObject> engine) : engine_(std::move(engine)) {
    engine_->QueryItemMgt(&itemMgt_);
    engine_->QuerySyncIO(&syncIO_);
  }
  SIMCOM_IUNKNOWN
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || (iid == IID_IOPCItemMgt && itemMgt_)) {
      *out = static_cast<IOPCItemMgt*>(this);
    } else if (iid == IID_IOPCSyncIO && syncIO_) {
      *out = static_cast<IOPCSyncIO*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AddItems(DWORD count, OPCITEMDEF* defs, OPCITEMRESULT** results,
                                     HRESULT** errors) override {
    std::vector<opc::ItemDefinition> items(count);
    for (DWORD i = 0; i < count; ++i) {
      items[i].accessPath = Utf16(defs[i].szAccessPath);
      items[i].itemId = Utf16(defs[i].szItemID);
      items[i].active = defs[i].bActive != FALSE;
      items[i].clientHandle = defs[i].hClient;
      items[i].requestedDataType = defs[i].vtRequestedDataType;
    }
    std::vector<opc::ItemResult> added;
    std::vector<opc::Result> codes;
    *results = nullptr;
    *errors = nullptr;
    HRESULT hr = itemMgt_->AddItems(items, &added, &codes);
    if (FAILED(hr)) return hr;
    *results = TaskArray<OPCITEMRESULT>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      OPCITEMRESULT& result = (*results)[i];
      std::memset(&result, 0, sizeof result);
      if (i < added.size()) {
        result.hServer = added[i].serverHandle;
        result.vtCanonicalDataType = added[i].canonicalDataType;
        result.dwAccessRights = added[i].accessRights;
      }
      (*errors)[i] = i < codes.size() ? codes[i] : E_FAIL;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ValidateItems(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT** results,
                                          HRESULT** errors) override {
    *results = nullptr;
    *errors = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemoveItems(DWORD count, OPCHANDLE* handles,
                                        HRESULT** errors) override {
    std::vector<uint32_t> list(handles, handles + count);
    std::vector<opc::Result> codes;
    *errors = nullptr;
    HRESULT hr = itemMgt_->RemoveItems(list, &codes);
    if (FAILED(hr)) return hr;
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) (*errors)[i] = i < codes.size() ? codes[i] : E_FAIL;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT** errors) override {
    *errors = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*,
                                             HRESULT** errors) override {
    *errors = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT** errors) override {
    *errors = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID, LPUNKNOWN* out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE source, DWORD count, OPCHANDLE* handles,
                                 OPCITEMSTATE** values, HRESULT** errors) override {
    std::vector<uint32_t> list(handles, handles + count);
    std::vector<opc::ItemState> states;
    std::vector<opc::Result> codes;
    *values = nullptr;
    *errors = nullptr;
    HRESULT hr = syncIO_->Read(source, list, &states, &codes);
    if (FAILED(hr)) return hr;
    *values = TaskArray<OPCITEMSTATE>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      OPCITEMSTATE& state = (*values)[i];
      std::memset(&state, 0, sizeof state);
      VariantInit(&state.vDataValue);
      if (i < states.size()) {
        state.hClient = states[i].clientHandle;
        state.ftTimeStamp.dwLowDateTime = static_cast<DWORD>(states[i].timeStamp);
        state.ftTimeStamp.dwHighDateTime = static_cast<DWORD>(states[i].timeStamp >> 32);
        state.wQuality = states[i].quality;
        ToVariant(states[i].value, &state.vDataValue);
      }
      (*errors)[i] = i < codes.size() ? codes[i] : E_FAIL;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Write(DWORD count, OPCHANDLE* handles, VARIANT* values,
                                  HRESULT** errors) override {
    std::vector<uint32_t> list(handles, handles + count);
    std::vector<opc::Variant> portable;
    for (DWORD i = 0; i < count; ++i) portable.push_back(FromVariant(values[i]));
    std::vector<opc::Result> codes;
    *errors = nullptr;
    HRESULT hr = syncIO_->Write(list, portable, &codes);
    if (FAILED(hr)) return hr;
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) (*errors)[i] = i < codes.size() ? codes[i] : E_FAIL;
    return hr;
  }

 private:
  std::shared_ptr<opc::OpcObject> engine_;
  std::shared_ptr<opc::OpcItemMgt> itemMgt_;
  std::shared_ptr<opc::OpcSyncIO> syncIO_;
};

class Server : public IOPCServer,
               public IOPCBrowseServerAddressSpace,
               public IOPCItemProperties,
               public Counted {
 public:
  explicit Server(std::shared_ptr<opc::OpcObject> engine) : engine_(std::move(engine)) {
    engine_->QueryServer(&server_);
    engine_->QueryBrowse(&browse_);
    engine_->QueryProperties(&properties_);
  }
  SIMCOM_IUNKNOWN
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown) {
      *out = static_cast<IOPCServer*>(this);
    } else if (iid == IID_IOPCServer && server_) {
      *out = static_cast<IOPCServer*>(this);
    } else if (iid == IID_IOPCBrowseServerAddressSpace && browse_) {
      *out = static_cast<IOPCBrowseServerAddressSpace*>(this);
    } else if (iid == IID_IOPCItemProperties && properties_) {
      *out = static_cast<IOPCItemProperties*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR name, BOOL active, DWORD rate, OPCHANDLE client,
                                     LONG* bias, FLOAT* deadband, DWORD lcid,
                                     OPCHANDLE* serverGroup, DWORD* revisedRate, REFIID iid,
                                     LPUNKNOWN* out) override {
    *out = nullptr;
    std::shared_ptr<opc::OpcObject> engineGroup;
    HRESULT hr = server_->AddGroup(Utf16(name), active != FALSE, rate, client,
                                   bias != nullptr ? *bias : 0,
                                   deadband != nullptr ? *deadband : 0.0f, lcid, &engineGroup);
    if (FAILED(hr)) return hr;
    if (serverGroup != nullptr) *serverGroup = ++groupCount_;
    if (revisedRate != nullptr) *revisedRate = rate;
    Group* group = new Group(engineGroup);
    hr = group->QueryInterface(iid, reinterpret_cast<void**>(out));
    group->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT code, LCID, LPWSTR* text) override {
    // The engine's own OPC texts first, the system's for any other code.
    std::u16string own;
    if (server_ && SUCCEEDED(server_->GetErrorString(code, &own))) {
      *text = CopyToTask(own);
      return *text != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), 0,
                                  reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string message = length > 0 ? Utf16(buffer) : u"Unknown OPC error";
    if (buffer != nullptr) LocalFree(buffer);
    *text = CopyToTask(message);
    return *text != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN* out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** status) override {
    *status = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN* out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* type) override {
    *type = OPC_NS_HIERARCHIAL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION direction,
                                                 LPCWSTR position) override {
    return browse_->ChangeBrowsePosition(direction, Utf16(position));
  }
  HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE type, LPCWSTR filter, VARTYPE vt,
                                             DWORD rights, LPENUMSTRING* out) override {
    std::vector<std::u16string> names;
    *out = nullptr;
    HRESULT hr = browse_->BrowseOPCItemIDs(type, Utf16(filter), vt, rights, &names);
    if (FAILED(hr)) return hr;
    *out = new EnumString(std::move(names));
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR dataId, LPWSTR* itemId) override {
    std::u16string full;
    *itemId = nullptr;
    HRESULT hr = browse_->GetItemID(Utf16(dataId), &full);
    if (SUCCEEDED(hr)) *itemId = CopyToTask(full);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR, LPENUMSTRING* out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR itemId, DWORD* count, DWORD** ids,
                                                     LPWSTR** descriptions,
                                                     VARTYPE** types) override {
    std::vector<uint32_t> idList;
    std::vector<std::u16string> texts;
    std::vector<uint16_t> typeList;
    *count = 0;
    *ids = nullptr;
    *descriptions = nullptr;
    *types = nullptr;
    HRESULT hr = properties_->QueryAvailableProperties(Utf16(itemId), &idList, &texts, &typeList);
    if (FAILED(hr)) return hr;
    size_t n = idList.size();
    *count = static_cast<DWORD>(n);
    *ids = TaskArray<DWORD>(n);
    *descriptions = TaskArray<LPWSTR>(n);
    *types = TaskArray<VARTYPE>(n);
    for (size_t i = 0; i < n; ++i) {
      (*ids)[i] = idList[i];
      (*descriptions)[i] = CopyToTask(i < texts.size() ? texts[i] : std::u16string());
      (*types)[i] = i < typeList.size() ? static_cast<VARTYPE>(typeList[i]) : static_cast<VARTYPE>(VT_EMPTY);
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR itemId, DWORD count, DWORD* ids,
                                              VARIANT** data, HRESULT** errors) override {
    std::vector<uint32_t> idList(ids, ids + count);
    std::vector<opc::Variant> values;
    std::vector<opc::Result> codes;
    *data = nullptr;
    *errors = nullptr;
    HRESULT hr = properties_->GetItemProperties(Utf16(itemId), idList, &values, &codes);
    if (FAILED(hr)) return hr;
    *data = TaskArray<VARIANT>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      if (i < values.size()) {
        ToVariant(values[i], &(*data)[i]);
      } else {
        VariantInit(&(*data)[i]);
      }
      (*errors)[i] = i < codes.size() ? codes[i] : E_FAIL;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR, DWORD, DWORD*, LPWSTR** newIds,
                                          HRESULT** errors) override {
    *newIds = nullptr;
    *errors = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::shared_ptr<opc::OpcObject> engine_;
  std::shared_ptr<opc::OpcServer> server_;
  std::shared_ptr<opc::OpcBrowseServerAddressSpace> browse_;
  std::shared_ptr<opc::OpcItemProperties> properties_;
  std::atomic<OPCHANDLE> groupCount_{0};
};

// The OPC server-list service: the classes registered under the asked
// categories, through the system's component category manager.
class ServerList : public IOPCServerList, public Counted {
 public:
  SIMCOM_IUNKNOWN
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IOPCServerList) {
      *out = static_cast<IOPCServerList*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE EnumClassesOfCategories(ULONG implementedCount, CATID implemented[],
                                                    ULONG requiredCount, CATID required[],
                                                    IEnumGUID** out) override {
    *out = nullptr;
    ICatInformation* categories = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatInformation, reinterpret_cast<void**>(&categories));
    if (FAILED(hr)) return hr;
    hr = categories->EnumClassesOfCategories(implementedCount, implemented, requiredCount,
                                             required, out);
    categories->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetClassDetails(REFCLSID clsid, LPOLESTR* progId,
                                            LPOLESTR* userType) override {
    *progId = nullptr;
    *userType = nullptr;
    HRESULT hr = ProgIDFromCLSID(clsid, progId);
    if (FAILED(hr)) return hr;
    wchar_t key[64] = L"CLSID\\";
    StringFromGUID2(clsid, key + 6, 58);
    wchar_t name[256] = {};
    LONG size = sizeof name;
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key, name, &size) != ERROR_SUCCESS) name[0] = 0;
    *userType = CopyToTask(Utf16(name));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) override {
    return ::CLSIDFromProgID(progId, clsid);
  }
};

// Registered for the life of the host; not counted as a server object.
class Factory : public IClassFactory {
 public:
  explicit Factory(bool isList) : isList_(isList) {}
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    if (isList_) {
      object = static_cast<IOPCServerList*>(new ServerList());
    } else {
      std::shared_ptr<opc::OpcObject> engine;
      GUID guid;
      std::memcpy(&guid, sim::kSimServerClassId.data(), sizeof guid);
      opc::ClassId id;
      std::memcpy(id.data(), &guid, sizeof guid);
      HRESULT hr = sim::CreateSimServer(Environment(), id, &engine);
      if (FAILED(hr)) return hr;
      object = static_cast<IOPCServer*>(new Server(std::move(engine)));
    }
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      CoAddRefServerProcess();
    } else if (CoReleaseServerProcess() == 0 && g_done != nullptr) {
      SetEvent(g_done);
    }
    return S_OK;
  }

 private:
  bool isList_;
};

std::wstring ModulePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

HRESULT SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                &handle, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

}  // namespace

std::string DataFolder() {
  std::wstring path = ModulePath();
  size_t slash = path.find_last_of(L"\\/");
  std::wstring folder = (slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash)) +
                        L"\\data";
  int size = WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, &narrow[0], size, nullptr, nullptr);
  return narrow;
}

namespace {

// An object that answers QueryInterface for IUnknown and one interface, and
// whose every other method answers E_NOTIMPL. It is only ever marshalled,
// never called.
struct InertObject {
  const void* const* vtable;
  IID iid;
};

HRESULT STDMETHODCALLTYPE InertQueryInterface(InertObject* self, REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == self->iid) {
    *out = self;
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE InertAddRef(InertObject*) { return 1; }
ULONG STDMETHODCALLTYPE InertRelease(InertObject*) { return 1; }
// x64 has one calling convention and the caller removes its arguments, so one
// function without parameters can stand in every other slot.
HRESULT STDMETHODCALLTYPE InertMethod() { return E_NOTIMPL; }

// IUnknown and more slots than the largest interface served (IOPCItemMgt: 10).
const void* const kInertVtable[] = {
    reinterpret_cast<const void*>(&InertQueryInterface),
    reinterpret_cast<const void*>(&InertAddRef),
    reinterpret_cast<const void*>(&InertRelease),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
    reinterpret_cast<const void*>(&InertMethod),
};

}  // namespace

// Wine's RPC runtime (rpcrt4 of Wine 8) can hang a COM server for good. When
// the last stub of an interface in a process goes (a client released the
// last reference to the last object it held of that interface), combase
// unregisters the interface and waits for the calls on it to complete
// (RpcServerUnregisterIf with WaitForCallsToComplete). The call the client
// made just before its release has already sent its answer but may not have
// finished: it lowers its interface's call count without taking the lock
// under which RpcServerUnregisterIf looked at that count and then marks the
// interface for deletion and creates the event it waits for. If the call
// ends in between, nobody ever signals the event; the release never answers,
// and the client waits for ever (seen as an agent stalled while creating the
// server: IClassFactory::CreateInstance, then the release of the factory; or
// while letting go of the server list after GetClassDetails). Windows has
// no such fault. The simulation servers avoid it by marshalling an inert
// object once per interface they serve, table-strong, for their whole life:
// the interface's registration then never ends while the server runs.
void KeepInterfacesRegistered(bool isList) {
  static const IID* const kListInterfaces[] = {&IID_IClassFactory, &IID_IOPCServerList,
                                               &IID_IEnumGUID};
  static const IID* const kServerInterfaces[] = {
      &IID_IClassFactory,      &IID_IOPCServer,  &IID_IOPCBrowseServerAddressSpace,
      &IID_IOPCItemProperties, &IID_IOPCItemMgt, &IID_IOPCSyncIO,
      &IID_IEnumString};
  const IID* const* begin = isList ? std::begin(kListInterfaces) : std::begin(kServerInterfaces);
  const IID* const* end = isList ? std::end(kListInterfaces) : std::end(kServerInterfaces);
  for (const IID* const* iid = begin; iid != end; ++iid) {
    // Held until the process ends; CoUninitialize disconnects them.
    auto* object = new InertObject{kInertVtable, **iid};
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) continue;
    CoMarshalInterface(stream, **iid, reinterpret_cast<IUnknown*>(object), MSHCTX_LOCAL, nullptr,
                       MSHLFLAGS_TABLESTRONG);
  }
}

bool NeverRegisters() {
  std::ifstream file(DataFolder() + "\\simulation.ini", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return sim::ParseSimConfig(text.str()).fault == sim::Fault::kRegister;
}

IClassFactory* NewClassFactory(bool isList, HANDLE done) {
  g_done = done;
  static Factory serverFactory(false);
  static Factory listFactory(true);
  return isList ? &listFactory : &serverFactory;
}

HRESULT RegisterServer(bool isList, bool remove) {
  GUID clsid;
  if (isList) {
    clsid = CLSID_OpcServerList;
  } else {
    std::memcpy(&clsid, sim::kSimServerClassId.data(), sizeof clsid);
  }
  std::wstring clsidKey = L"CLSID\\" + GuidText(clsid);
  std::wstring progId = isList ? L"OPC.ServerList.1" : kServerProgId;
  std::wstring userType = isList ? L"OPC Server List" : kServerUserType;
  if (remove) {
    if (!isList) {
      ICatRegister* registrar = nullptr;
      if (SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr,
                                     CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                     reinterpret_cast<void**>(&registrar)))) {
        CATID category = CATID_OPCDAServer20;
        registrar->UnRegisterClassImplCategories(clsid, 1, &category);
        registrar->Release();
      }
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, clsidKey.c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, progId.c_str());
    return S_OK;
  }
  HRESULT hr = SetValue(clsidKey, nullptr, userType);
  if (SUCCEEDED(hr)) hr = SetValue(clsidKey + L"\\LocalServer32", nullptr, ModulePath());
  if (SUCCEEDED(hr)) hr = SetValue(clsidKey + L"\\ProgID", nullptr, progId);
  if (SUCCEEDED(hr)) hr = SetValue(progId, nullptr, userType);
  if (SUCCEEDED(hr)) hr = SetValue(progId + L"\\CLSID", nullptr, GuidText(clsid));
  if (FAILED(hr) || isList) return hr;
  ICatRegister* registrar = nullptr;
  hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                        IID_ICatRegister, reinterpret_cast<void**>(&registrar));
  if (FAILED(hr)) return hr;
  CATEGORYINFO info = {};
  info.catid = CATID_OPCDAServer20;
  info.lcid = 0x409;
  wcscpy(info.szDescription, L"OPC Data Access Servers Version 2.0");
  hr = registrar->RegisterCategories(1, &info);
  CATID category = CATID_OPCDAServer20;
  if (SUCCEEDED(hr)) hr = registrar->RegisterClassImplCategories(clsid, 1, &category);
  registrar->Release();
  return hr;
}

}  // namespace simcom
