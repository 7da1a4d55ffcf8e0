// The account of a remote session on every call, not only on the activation.
//
// DCOM uses the identity given in COSERVERINFO for the activation alone; the
// proxies it hands back call with the logged-on user's identity unless each
// one is given the account with CoSetProxyBlanket. A host that only knows the
// configured account would then accept the connection and refuse every call.
// So every proxy the adapter obtains in a remote session (the created object,
// each interface asked of it, and each object a call hands back) gets the
// blanket below before it is used. A proxy that does not take the blanket
// (Wine's proxies take none: their CoSetProxyBlanket answers E_NOTIMPL) is
// used as it is; its calls go out as the process's, as they did before, and
// a host that refuses them fails the call, which the client reports.
//
// Ownership: COM keeps the COAUTHIDENTITY pointer given with the blanket, so
// the identity record is shared by every wrapper of the session's proxies and
// lives as long as the last of them; its password is wiped when it goes.
// Thread-safety: a record is read-only once made; Wipe runs at its end only.
#pragma once

#include <windows.h>
// After <windows.h>, which it relies on.
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "opc/opc_server.h"

namespace opc {

// The account of one remote session in the form COM takes it (UTF-16,
// SEC_WINNT_AUTH_IDENTITY_UNICODE), kept in this record's own buffers.
class ProxyIdentity {
 public:
  ProxyIdentity(const std::u16string& user, const std::u16string& domain,
                const std::u16string& password);
  ~ProxyIdentity();
  ProxyIdentity(const ProxyIdentity&) = delete;
  ProxyIdentity& operator=(const ProxyIdentity&) = delete;

  // Points into this record; valid while the record lives.
  COAUTHIDENTITY* AuthIdentity() { return &identity_; }
  // Overwrites the password with zeros (the destructor does it too).
  void Wipe();

 private:
  std::wstring user_;
  std::wstring domain_;
  std::wstring password_;
  COAUTHIDENTITY identity_ = {};
};

// The call security given to a proxy: the arguments of CoSetProxyBlanket.
struct ProxyBlanket {
  DWORD authenticationService = RPC_C_AUTHN_WINNT;
  DWORD authorizationService = RPC_C_AUTHZ_NONE;
  DWORD authenticationLevel = RPC_C_AUTHN_LEVEL_PKT_INTEGRITY;
  DWORD impersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
  COAUTHIDENTITY* identity = nullptr;  // the session's ProxyIdentity
  DWORD capabilities = EOAC_NONE;
};

// Gives proxy (an interface of kind iid) its blanket. The adapter's own calls
// CoSetProxyBlanket; a test records what each interface was given.
using ProxySecurer =
    std::function<HRESULT(IUnknown* proxy, REFIID iid, const ProxyBlanket& blanket)>;

HRESULT SetProxyBlanket(IUnknown* proxy, REFIID iid, const ProxyBlanket& blanket);

// Creates an object of a class for the connector: (class, interface asked,
// where and as whom, the session's identity or null for a local creation,
// the created interface). Defaults to CoCreateInstance / CoCreateInstanceEx.
using ObjectCreator =
    std::function<HRESULT(const GUID& classId, REFIID iid, const CreationTarget& target,
                          COAUTHIDENTITY* identity, IUnknown** object)>;

// What a test may replace in the COM connector; empty members keep the
// adapter's own.
struct ComConnectorHooks {
  ObjectCreator create;
  ProxySecurer secure;
};

// The COM connector with its creations given up after creationLimitMs.
std::unique_ptr<OpcConnector> CreateComConnector(uint32_t creationLimitMs,
                                                 ComConnectorHooks hooks = {});

}  // namespace opc
