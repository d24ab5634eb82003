// The automation contract of the converter: the type library's identifiers, the class's
// ProgID and description, the dual interface IFuVeskMath (its own members after the
// dispatch interface's, with their DISPIDs), and the host's list in the registry store. The
// identifiers are defined here once; the registry entries, the type library, the server and
// every host take them from this header. A host needs this folder, never the engine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/win/OleTypes.h"

namespace veskmath::server {

// Type library "VeskMath" 1.0, locale 1033.
inline constexpr win::GUID LIBID_VeskMath =
    win::GuidLiteral("{3DA99383-AA38-4FA5-9790-35C7038F5360}");
inline constexpr win::IID IID_IFuVeskMath =
    win::GuidLiteral("{19F1B0A5-8B8B-4837-97D0-B6E0E37EBBC3}");
inline constexpr win::CLSID CLSID_FuVeskMath =
    win::GuidLiteral("{FEC7816F-C88C-400F-B75B-6431DBF6277A}");

inline constexpr int kVeskMathMajorVersion = 1;
inline constexpr int kVeskMathMinorVersion = 0;
inline constexpr win::LCID kVeskMathLocale = 1033;

inline constexpr const char* kVeskMathProgID = "VeskMath.FuVeskMath";
inline constexpr const char16_t* kVeskMathProgIDWide = u"VeskMath.FuVeskMath";

// DISPIDs of the members.
inline constexpr win::DISPID DISPID_VeskYomi = 1;
inline constexpr win::DISPID DISPID_VeskHyoki = 2;
inline constexpr win::DISPID DISPID_VeskStart = 3;
inline constexpr win::DISPID DISPID_VeskResult = 4;

// The message VeskStart posts to the host's window (WM_USER + 100).
inline constexpr win::UINT kVeskStartMessage = 0x0464;

// The host's plug-in list under HKEY_LOCAL_MACHINE: numbered subkeys "01", "02", ... each
// with the value "ID" (a ProgID), read in number order up to the first missing number.
inline constexpr const char* kVeskHostKey = "SOFTWARE\\Orbanel\\Vesk";
// The subkey name of entry `number` (from 1): at least two digits. 1 -> "01", 10 -> "10".
inline std::string HostEntryName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "%02d", number);
  return name;
}

// Beside the class factory, the class object answers hosts why a notation answers "?" (the
// engine's or the system's message; empty when it evaluates), so a host that shows the
// reason needs no engine of its own: FailureReason(s notation) -> s, on the session bus.
inline constexpr const char* kDiagnosticsInterface = "Diagnostics";
inline constexpr const char* kFailureReasonMember = "FailureReason";

// The dual interface: late-bound callers reach the same members through IDispatch::Invoke.
// Property values travel as BSTRs; a written null BSTR counts as the empty text, and every
// text handed out is a non-null BSTR owned by the caller.
class IFuVeskMath : public win::IDispatch {
 public:
  static constexpr win::IID kIid = IID_IFuVeskMath;
  using Base = win::IDispatch;

  virtual win::HRESULT Get_VeskYomi(win::BSTR* Value) = 0;
  virtual win::HRESULT Set_VeskYomi(const win::BSTR& Value) = 0;
  virtual win::HRESULT Get_VeskHyoki(win::BSTR* Value) = 0;
  virtual win::HRESULT Set_VeskHyoki(const win::BSTR& Value) = 0;
  virtual win::HRESULT VeskStart(std::int32_t hWnd) = 0;
  virtual win::HRESULT Get_VeskResult(win::BSTR* Value) = 0;

 protected:
  ~IFuVeskMath() = default;
};

}  // namespace veskmath::server
