// Component-object-model stand-in: HRESULTs, GUIDs, BSTR, IUnknown with a reference-counting
// base and a smart pointer, IDispatch with a small VARIANT, per-thread error information.
#pragma once

#include <array>
#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/win/WinTypes.h"

namespace veskmath::win {

// ---------------------------------------------------------------------------------------
// Result codes

using HRESULT = std::int32_t;
using SCODE = HRESULT;

constexpr HRESULT MakeHResult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHResult(0x80080005);
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHResult(0x80010108);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// ---------------------------------------------------------------------------------------
// GUIDs

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
  friend constexpr auto operator<=>(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// Reads the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits in either
// case, braces required, nothing around it). Empty when the text is not that form.
constexpr std::optional<GUID> ParseGUID(std::string_view text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  std::uint64_t high = 0;  // the first 16 digits: Data1, Data2, Data3
  std::uint64_t low = 0;   // the last 16: Data4
  int digits = 0;
  for (std::size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    // A digit's value is its position modulo 16, in either case.
    const std::size_t d = std::string_view("0123456789abcdef0123456789ABCDEF").find(text[i]);
    if (d == std::string_view::npos) return std::nullopt;
    std::uint64_t& half = digits++ < 16 ? high : low;
    half = half << 4 | d % 16;
  }
  GUID g{static_cast<std::uint32_t>(high >> 32), static_cast<std::uint16_t>(high >> 16),
         static_cast<std::uint16_t>(high)};
  for (std::size_t i = 0; i < g.Data4.size(); ++i) {
    g.Data4[i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
  }
  return g;
}

// A GUID written in the source; a malformed literal does not compile.
consteval GUID GuidLiteral(std::string_view text) {
  const std::optional<GUID> g = ParseGUID(text);
  if (!g) throw "malformed GUID literal";
  return *g;
}

// The registry form with braces and upper-case hex digits, as the system writes a CLSID.
std::string GUIDToString(REFGUID guid);

inline constexpr GUID GUID_NULL{};

// ---------------------------------------------------------------------------------------
// BSTR: an owned UTF-16 string that may be null. Null and empty are different values, both of
// length 0. Moving leaves the source null.

class BSTR {
 public:
  BSTR() noexcept = default;  // null
  explicit BSTR(std::u16string_view text) : FText(text), FNull(false) {}
  BSTR(const BSTR&) = default;
  BSTR& operator=(const BSTR&) = default;
  BSTR(BSTR&& other) noexcept { *this = std::move(other); }
  BSTR& operator=(BSTR&& other) noexcept {
    FText = std::exchange(other.FText, {});
    FNull = std::exchange(other.FNull, true);
    return *this;
  }

  bool IsNull() const noexcept { return FNull; }
  // SysStringLen: the number of UTF-16 units; 0 for a null BSTR.
  std::uint32_t Length() const noexcept { return static_cast<std::uint32_t>(FText.size()); }
  // The text; an empty view for a null BSTR.
  std::u16string_view View() const noexcept { return FText; }
  // Null-terminated units, or nullptr for a null BSTR.
  const char16_t* c_str() const noexcept { return FNull ? nullptr : FText.c_str(); }
  void Reset() noexcept {
    FText.clear();
    FNull = true;
  }

  friend bool operator==(const BSTR&, const BSTR&) = default;  // null != empty

 private:
  // A flag beside a plain string rather than std::optional: GCC 12 reports false
  // "maybe uninitialized" warnings through optional<u16string> at -O3.
  std::u16string FText;  // always empty while null
  bool FNull = true;
};

// ---------------------------------------------------------------------------------------
// IUnknown and the reference-counting helpers. Every interface names its identifier as
// `kIid` and its parent interface as `Base` (IUnknown's parent is itself).

class IUnknown {
 public:
  static constexpr IID kIid = GuidLiteral("{00000000-0000-0000-C000-000000000046}");
  using Base = IUnknown;

  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects end through Release
};

inline constexpr IID IID_IUnknown = IUnknown::kIid;

// IUnknown for an object offering `Interfaces...`: an atomic count that starts at 0 (the
// creator takes the first reference), deletion on the final Release, and a QueryInterface
// answering IUnknown and every listed interface with its parents.
template <class... Interfaces>
class TComObject : public Interfaces... {
  static_assert(sizeof...(Interfaces) > 0, "a COM object offers at least one interface");

 public:
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      (Find<Interfaces>(riid, object) || ...);
    }
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    const ULONG left = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  TComObject() = default;
  virtual ~TComObject() = default;

 private:
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

  // Walks I, I::Base, ... up to (not including) IUnknown, from the listed interface Leaf.
  template <class Leaf, class I = Leaf>
  bool Find(REFIID riid, void** object) {
    if constexpr (std::is_same_v<I, IUnknown>) {
      return false;
    } else {
      if (riid == I::kIid) {
        *object = static_cast<I*>(static_cast<Leaf*>(this));
        return true;
      }
      return Find<Leaf, typename I::Base>(riid, object);
    }
  }

  std::atomic<ULONG> FRefCount{0};
};

// An owning interface pointer: holds one reference and releases it.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference on `p`.
  explicit ComPtr(T* p) noexcept : FPtr(p) {
    if (FPtr) FPtr->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.FPtr) {}
  ComPtr(ComPtr&& other) noexcept : FPtr(other.FPtr) { other.FPtr = nullptr; }
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(FPtr, other.FPtr);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Adopts a reference the caller already owns (as an out-parameter hands one over).
  static ComPtr Attach(T* p) noexcept {
    ComPtr result;
    result.FPtr = p;
    return result;
  }
  T* Detach() noexcept { return std::exchange(FPtr, nullptr); }
  void Reset() noexcept {
    if (FPtr) std::exchange(FPtr, nullptr)->Release();
  }
  T* Get() const noexcept { return FPtr; }
  T* operator->() const noexcept { return FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }
  // For out-parameters: releases the current reference and exposes the slot.
  T** ReleaseAndGetAddressOf() noexcept {
    Reset();
    return &FPtr;
  }

  template <class U>
  HRESULT As(ComPtr<U>& result) const {
    result.Reset();
    if (!FPtr) return E_POINTER;
    void* raw = nullptr;
    const HRESULT hr = FPtr->QueryInterface(U::kIid, &raw);
    if (SUCCEEDED(hr)) result = ComPtr<U>::Attach(static_cast<U*>(raw));
    return hr;
  }

 private:
  T* FPtr = nullptr;
};

// Creates a T with `args` and hands back the first reference.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// ---------------------------------------------------------------------------------------
// Dispatch interface and its small VARIANT (late-bound calls by DISPID)

using DISPID = std::int32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_BOOL = 11,
};

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

// Not a union: the field that `vt` names holds the value; the others stay at their zero.
struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  std::int32_t lVal = 0;                 // VT_I4
  VARIANT_BOOL boolVal = VARIANT_FALSE;  // VT_BOOL
  BSTR bstrVal;                          // VT_BSTR
};

HRESULT VariantClear(VARIANT* v);
// Coerces among VT_EMPTY, VT_I4, VT_BSTR and VT_BOOL the way automation does for argument
// passing: "42" -> 42, 1 -> VARIANT_TRUE, VT_EMPTY -> 0 / "" / false. Texts that do not read
// as numbers give DISP_E_TYPEMISMATCH, numbers beyond 32 bits DISP_E_OVERFLOW. `dest` may be
// `source`.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, WORD flags, VARTYPE vt);

// Arguments stand in reverse order (the last argument first), as callers of Invoke pass them.
struct DISPPARAMS {
  VARIANT* rgvarg = nullptr;
  DISPID* rgdispidNamedArgs = nullptr;
  UINT cArgs = 0;
  UINT cNamedArgs = 0;
};

struct EXCEPINFO {
  BSTR bstrSource;
  BSTR bstrDescription;
  SCODE scode = 0;
};

// GetTypeInfoCount answers 0: there is no type-library loader.
class IDispatch : public IUnknown {
 public:
  static constexpr IID kIid = GuidLiteral("{00020400-0000-0000-C000-000000000046}");
  using Base = IUnknown;

  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, const char16_t* const* names, UINT nameCount,
                                LCID lcid, DISPID* dispIds) = 0;
  virtual HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) = 0;

 protected:
  ~IDispatch() = default;
};

inline constexpr IID IID_IDispatch = IDispatch::kIid;

// ---------------------------------------------------------------------------------------
// Error information: filled by a failing member, handed to the caller through the thread's slot.

class IErrorInfo : public IUnknown {
 public:
  static constexpr IID kIid = GuidLiteral("{1CF2B120-547D-101B-8E65-08002B2BD119}");
  using Base = IUnknown;

  virtual HRESULT GetGUID(GUID* guid) = 0;
  virtual HRESULT GetSource(BSTR* source) = 0;
  virtual HRESULT GetDescription(BSTR* description) = 0;

 protected:
  ~IErrorInfo() = default;
};

class ICreateErrorInfo : public IUnknown {
 public:
  static constexpr IID kIid = GuidLiteral("{22F03340-547D-101B-8E65-08002B2BD119}");
  using Base = IUnknown;

  // Null texts are stored as null BSTRs.
  virtual HRESULT SetGUID(REFGUID guid) = 0;
  virtual HRESULT SetSource(const char16_t* source) = 0;
  virtual HRESULT SetDescription(const char16_t* description) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

// An object says through this interface that its members set error information.
class ISupportErrorInfo : public IUnknown {
 public:
  static constexpr IID kIid = GuidLiteral("{DF0B3D60-548F-101B-8E65-08002B2BD119}");
  using Base = IUnknown;

  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

inline constexpr IID IID_IErrorInfo = IErrorInfo::kIid;

// A new, empty error object (its reference goes to the caller); it also answers IErrorInfo.
HRESULT CreateErrorInfo(ICreateErrorInfo** result);
// Replaces the calling thread's error object (null clears it). `reserved` must be 0.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* errorInfo);
// Hands over the thread's error object and clears the slot; S_FALSE and null when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** errorInfo);

}  // namespace veskmath::win
