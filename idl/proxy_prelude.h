// Forced into widl's C proxy sources. The generated proxy expects stubless
// (-Oif) proxy headers and the IUnknown proxy entry points of rpcrt4, which
// mingw-w64 declares for C++ only.
#pragma once
#define USE_STUBLESS_PROXY
#include <objbase.h>
#include <rpcproxy.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
