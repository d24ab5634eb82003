// Type-library descriptions embedded in the program (contract/Veskmath_tlb.cpp): server and
// client link the same constexpr tables, so both agree on names and DISPIDs. Descriptions have
// static storage; the runtime keeps pointers to them, never copies.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/win/OleTypes.h"

namespace veskmath::win {

// Parameter flags (IDL attributes in, out, retval).
inline constexpr WORD PARAMFLAG_FIN = 1;
inline constexpr WORD PARAMFLAG_FOUT = 2;
inline constexpr WORD PARAMFLAG_FRETVAL = 8;

enum class TInvokeKind : WORD {
  Method = DISPATCH_METHOD,
  PropertyGet = DISPATCH_PROPERTYGET,
  PropertyPut = DISPATCH_PROPERTYPUT,
};

struct TParamDesc {
  std::string_view name;  // UTF-8, may be empty (an unnamed property value)
  VARTYPE type = VT_EMPTY;
  WORD flags = PARAMFLAG_FIN;

  constexpr bool IsIn() const { return (flags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) == 0; }
  constexpr bool IsRetval() const { return (flags & PARAMFLAG_FRETVAL) != 0; }
};

// One member slot. A property with get and put has two entries with the same name and DISPID.
// The in-parameters come first, in call order; a retval parameter, if any, last.
struct TFuncDesc {
  std::string_view name;  // ASCII
  DISPID dispId = DISPID_UNKNOWN;
  TInvokeKind kind = TInvokeKind::Method;
  std::span<const TParamDesc> params;
  std::string_view helpString;  // UTF-8

  // The number of in-parameters (what a caller passes in DISPPARAMS).
  std::size_t InCount() const;
  // The retval parameter, or nullptr when the member returns nothing but its HRESULT.
  const TParamDesc* Retval() const;
};

struct TInterfaceDesc {
  IID iid;
  std::string_view name;  // ASCII
  bool dual = true;       // dispatchable and automation-compatible, derived from IDispatch
  std::string_view helpString;
  std::span<const TFuncDesc> funcs;
};

struct TCoClassDesc {
  CLSID clsid;
  std::string_view name;
  std::string_view helpString;
  const TInterfaceDesc* defaultInterface = nullptr;
};

struct TTypeLibDesc {
  GUID libid;
  std::string_view name;
  WORD majorVersion = 1;
  WORD minorVersion = 0;
  LCID lcid = 0;
  std::string_view helpString;
  std::span<const TInterfaceDesc* const> interfaces;
  std::span<const TCoClassDesc> coclasses;
};

// ---------------------------------------------------------------------------------------
// Dispatch served from a description

// names[0] is a member, names[1..] its parameters (DISPID: the 0-based position), ASCII case
// ignored. Unknown names get DISPID_UNKNOWN and the answer DISP_E_UNKNOWNNAME.
HRESULT DispGetIDsOfNames(const TInterfaceDesc& itf, const char16_t* const* names, UINT nameCount,
                          DISPID* dispIds);

// `args`: the in-parameters in declaration order, coerced to their types; `result` (never null)
// takes the retval. Returns the member's HRESULT, setting error information on failure.
using TMemberHandler =
    std::function<HRESULT(const TFuncDesc& func, std::span<VARIANT> args, VARIANT* result)>;

// IDispatch::Invoke over a description, as the system's type-info dispatch does; `result` may
// be null. Failures:
//   riid other than GUID_NULL      -> DISP_E_UNKNOWNINTERFACE
//   no member for dispId and flags -> DISP_E_MEMBERNOTFOUND
//   named arguments but a put's single DISPID_PROPERTYPUT -> DISP_E_NONAMEDARGS
//   argument count differs         -> DISP_E_BADPARAMCOUNT
//   an argument does not convert   -> DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW, *argErr = rgvarg index
//   the member fails with hr       -> DISP_E_EXCEPTION, scode = hr, EXCEPINFO from the thread's
//                                     error information (which stays set)
HRESULT DispInvoke(const TInterfaceDesc& itf, const TMemberHandler& handler, DISPID dispId,
                   REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr);

// ---------------------------------------------------------------------------------------
// Registration (HKEY_CLASSES_ROOT of the registry file, RegistryFile::DefaultPath())
//
//   TypeLib\{LIBID}\<major>.<minor>             (default) = help string (the name when empty)
//   TypeLib\{LIBID}\<major>.<minor>\<lcid>\win32 (default) = fullPath
//   TypeLib\{LIBID}\<major>.<minor>\FLAGS       (default) = "0"
//   TypeLib\{LIBID}\<major>.<minor>\HELPDIR     (default) = helpDir
//   Interface\{IID}                              (default) = interface name
//   Interface\{IID}\ProxyStubClsid32, ...\ProxyStubClsid (default) = the automation marshaler
//   Interface\{IID}\TypeLib                      (default) = {LIBID}, "Version" = "1.0"
// <lcid>: the locale in lower-case hex without leading zeros ("409" for 1033, "0" neutral).
// Answers S_OK, or TYPE_E_REGISTRYACCESS when the registry file cannot be written.
inline constexpr CLSID CLSID_PSOAInterface = GuidLiteral("{00020424-0000-0000-C000-000000000046}");
inline constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHResult(0x8002801C);

HRESULT RegisterTypeLib(const TTypeLibDesc& lib, const std::string& fullPath,
                        const std::string& helpDir);

// The subkey path "TypeLib\{LIBID}\1.0" of a library.
std::string TypeLibVersionKey(const TTypeLibDesc& lib);

// ---------------------------------------------------------------------------------------
// Descriptions known to this process, so that proxies answer GetIDsOfNames locally.
// Thread-safe; a description must outlive the process's use of automation (static tables do).

void AddKnownTypeLib(const TTypeLibDesc& lib);
// The known class, or nullptr; `library`, when given, receives the library that describes it.
const TCoClassDesc* FindKnownCoClass(REFCLSID clsid, const TTypeLibDesc** library = nullptr);

}  // namespace veskmath::win
