// Shared by the agent's COM adapter and the simulation COM servers: one
// owning interface reference, and the conversions between the portable
// Variant and the COM VARIANT.
//
// Ownership: ComRef owns one reference and releases it when destroyed or
// reset. ToVariant fills a VARIANT the caller clears with VariantClear;
// FromVariant only reads. Thread-safety: none needed (no shared state).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "opc/opc_server.h"

namespace comvalues {

template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* raw) : raw_(raw) {}  // takes over the caller's reference
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : raw_(other.raw_) { other.raw_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) Reset(other.raw_), other.raw_ = nullptr;
    return *this;
  }
  ~ComRef() { Reset(nullptr); }
  void Reset(T* raw) {
    if (raw_ != nullptr) raw_->Release();
    raw_ = raw;
  }
  T* get() const { return raw_; }
  T* operator->() const { return raw_; }
  explicit operator bool() const { return raw_ != nullptr; }

 private:
  T* raw_ = nullptr;
};

// UTF-16 both sides; wchar_t is 16 bits on Windows.
inline std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}
inline std::u16string Utf16(const wchar_t* text) {
  std::u16string copy;
  if (text == nullptr) return copy;
  for (; *text != 0; ++text) copy.push_back(static_cast<char16_t>(*text));
  return copy;
}

inline opc::Variant FromVariant(const VARIANT& from) {
  opc::Variant to;
  to.vt = from.vt;
  switch (from.vt) {
    case VT_I1: to.integer = from.cVal; break;
    case VT_UI1: to.integer = from.bVal; break;
    case VT_I2: to.integer = from.iVal; break;
    case VT_UI2: to.integer = from.uiVal; break;
    case VT_I4: to.integer = from.lVal; break;
    case VT_UI4: to.integer = from.ulVal; break;
    case VT_INT: to.integer = from.intVal; break;
    case VT_UINT: to.integer = from.uintVal; break;
    case VT_I8: to.integer = from.llVal; break;
    case VT_UI8: to.integer = static_cast<int64_t>(from.ullVal); break;
    case VT_ERROR: to.integer = from.scode; break;
    case VT_BOOL: to.integer = from.boolVal; break;  // the 16 bits as sent: -1 for VARIANT_TRUE
    case VT_CY: to.integer = from.cyVal.int64; break;
    case VT_R4: to.real = from.fltVal; break;
    case VT_R8: to.real = from.dblVal; break;
    case VT_DATE: to.real = from.date; break;
    case VT_BSTR:
      if (from.bstrVal != nullptr) {
        to.text.assign(reinterpret_cast<const char16_t*>(from.bstrVal), SysStringLen(from.bstrVal));
      }
      break;
    default: break;  // arrays, references, objects: the type only
  }
  return to;
}

// Types without a value member here become VT_EMPTY.
inline void ToVariant(const opc::Variant& from, VARIANT* to) {
  VariantInit(to);
  to->vt = from.vt;
  switch (from.vt) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_I1: to->cVal = static_cast<CHAR>(from.integer); break;
    case VT_UI1: to->bVal = static_cast<BYTE>(from.integer); break;
    case VT_I2: to->iVal = static_cast<SHORT>(from.integer); break;
    case VT_UI2: to->uiVal = static_cast<USHORT>(from.integer); break;
    case VT_I4: to->lVal = static_cast<LONG>(from.integer); break;
    case VT_UI4: to->ulVal = static_cast<ULONG>(from.integer); break;
    case VT_INT: to->intVal = static_cast<INT>(from.integer); break;
    case VT_UINT: to->uintVal = static_cast<UINT>(from.integer); break;
    case VT_I8: to->llVal = from.integer; break;
    case VT_UI8: to->ullVal = static_cast<ULONGLONG>(from.integer); break;
    case VT_ERROR: to->scode = static_cast<SCODE>(from.integer); break;
    // As given: the client's text conversion makes true VARIANT_TRUE (-1),
    // and the simulation server sends what its engine holds.
    case VT_BOOL: to->boolVal = static_cast<VARIANT_BOOL>(from.integer); break;
    case VT_CY: to->cyVal.int64 = from.integer; break;
    case VT_R4: to->fltVal = static_cast<FLOAT>(from.real); break;
    case VT_R8: to->dblVal = from.real; break;
    case VT_DATE: to->date = from.real; break;
    case VT_BSTR:
      to->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(from.text.data()),
                                      static_cast<UINT>(from.text.size()));
      break;
    default: to->vt = VT_EMPTY; break;
  }
}

}  // namespace comvalues
