// Automation runtime: apartments, class objects, activation of local (out-of-process)
// servers, and calls across the process boundary, carried by the user's D-Bus session bus.
//
// A server enters a single-threaded apartment, makes its description known (AddKnownTypeLib),
// registers its class factory with CLSCTX_LOCAL_SERVER and runs a GetMessageA/DispatchMessageA
// loop: the calls reach the objects one at a time as messages of that loop. Lock counting stays
// with the server module (at 0 it posts WM_QUIT). Every object a client holds is one reference
// kept for it; a client that leaves the bus (or a lost connection) has its references released
// and its LockServer(TRUE) calls undone on the serving thread.
//
// A client's object is a proxy answering IUnknown and IDispatch; Invoke coerces the arguments to
// the declared types. A member's failure brings its error information and, for
// DISP_E_EXCEPTION, its EXCEPINFO; no reply within the call timeout gives RPC_E_TIMEOUT, a
// server that has gone RPC_E_DISCONNECTED. Proxies may be used from any thread; a process's
// calls share one connection, one at a time.
//
// BUS, for a class whose library is "VeskMath" and coclass "FuVeskMath":
//   well-known name   VeskMath.FuVeskMath
//   class object      /VeskMath/FuVeskMath, interface VeskMath.ClassFactory:
//                       CreateInstance() -> o, LockServer(b), Run(a(ss) steps) -> as
//   each object       /VeskMath/FuVeskMath/<n>, interface VeskMath.IFuVeskMath with one
//                     method per member (GetVeskYomi, SetVeskYomi, ..., VeskStart), and
//                     VeskMath.Object.Release(); only the client that made it may call it
//   errors            VeskMath.Error.E<HRESULT>[.S<scode>], the description as the message
// Run makes an object, calls each (member, argument) in turn, answers every value as text
// and releases the object: a whole conversion in one call, for one-shot clients (busctl).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/OleTypes.h"
#include "platform/win/TypeLib.h"

namespace veskmath::win {

// ---------------------------------------------------------------------------------------
// Result codes of the runtime

inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0);
inline constexpr HRESULT CO_E_OBJISREG = MakeHResult(0x800401FB);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106);
inline constexpr HRESULT RPC_E_WRONG_THREAD = MakeHResult(0x8001010E);
inline constexpr HRESULT RPC_E_INVALID_DATA = MakeHResult(0x8001010F);
inline constexpr HRESULT RPC_E_TIMEOUT = MakeHResult(0x8001011F);
inline constexpr HRESULT RPC_E_SERVERFAULT = MakeHResult(0x80010105);  // a member threw
inline constexpr HRESULT CO_E_SERVER_STOPPING = MakeHResult(0x80004028);
inline constexpr HRESULT RPC_E_SERVER_UNAVAILABLE = MakeHResult(0x800706BA);  // no session bus

// ---------------------------------------------------------------------------------------
// Apartments

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Enters the calling thread into an apartment. S_OK the first time, S_FALSE for a nested call
// of the same kind (each needs its CoUninitialize), RPC_E_CHANGED_MODE for the other kind.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
// The last call on the serving thread revokes its class objects, releases what every client
// held and closes the connection.
void CoUninitialize();

// ---------------------------------------------------------------------------------------
// Class objects

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = 0x17;

inline constexpr DWORD REGCLS_MULTIPLEUSE = 1;

class IClassFactory : public IUnknown {
 public:
  static constexpr IID kIid = GuidLiteral("{00000001-0000-0000-C000-000000000046}");
  using Base = IUnknown;

  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};
inline constexpr IID IID_IClassFactory = IClassFactory::kIid;

// A class factory from two functions. CreateInstance refuses aggregation unless the outer
// object asks for IUnknown (CLASS_E_NOAGGREGATION).
class TClassFactory : public TComObject<IClassFactory> {
 public:
  using Creator = std::function<HRESULT(IUnknown* outer, REFIID riid, void** object)>;
  using Locker = std::function<void(bool lock)>;

  TClassFactory(Creator create, Locker lock) : FCreate(std::move(create)), FLock(std::move(lock)) {}

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  Creator FCreate;
  Locker FLock;
};

// Only REGCLS_MULTIPLEUSE is supported (else E_INVALIDARG). CLSCTX_INPROC_SERVER alone serves
// this process only; CLSCTX_LOCAL_SERVER serves others through the bus, from a single-threaded
// apartment on the one thread of the process that registers such classes (else
// RPC_E_WRONG_THREAD). CO_E_OBJISREG when this or another live process already serves the
// class; RPC_E_SERVER_UNAVAILABLE without a session bus (a server started on demand should end).
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsContext, DWORD flags,
                              DWORD* cookie);
// Objects already handed out live on. E_INVALIDARG for an unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);
// Before a server decides to end: gives up the names (new clients reach, or have the bus start,
// the next server) and refuses requests already on their way with CO_E_SERVER_STOPPING, which
// clients answer by asking again. Objects handed out are served on. S_FALSE when suspended.
HRESULT CoSuspendClassObjects();
// CO_E_OBJISREG when another process took a name meanwhile: the process stays suspended.
HRESULT CoResumeClassObjects();

// Class methods: what hosts need beyond the interface, on the class object under the interface
// "<library>.<interfaceName>" ("VeskMath.Diagnostics"): UTF-8 text in and out, run on the
// serving thread; one that throws answers RPC_E_SERVERFAULT. Add them before registering.
using TClassMethod = std::function<std::string(const std::string& argument)>;
void AddClassMethod(REFCLSID clsid, std::string interfaceName, std::string member,
                    TClassMethod method);
// Waits at most the call timeout; failures as for CoCreateInstance.
HRESULT CallClassMethod(REFCLSID clsid, const std::string& interfaceName, const std::string& member,
                        const std::string& argument, std::string& answer);

// ---------------------------------------------------------------------------------------
// Activation

// HKCR\<progId>\CLSID (default). CO_E_CLASSSTRING when the ProgID is not registered or its
// entry is not a CLSID.
HRESULT CLSIDFromProgID(const char16_t* progId, CLSID* clsid);
// HKCR\CLSID\{CLSID}\ProgID (default); REGDB_E_CLASSNOTREG and a null text without one.
HRESULT ProgIDFromCLSID(REFCLSID clsid, BSTR* progId);

// A class registered in this process is used directly. Otherwise the bus starts the server,
// with the session's environment, from its service file (RegisterBusService) when nobody owns
// the class's name. REGDB_E_CLASSNOTREG without a LocalServer32 entry or a known description.
// For a remote class: CLASS_E_NOAGGREGATION for an outer object, E_NOINTERFACE for other than
// IUnknown and IDispatch, CO_E_SERVER_EXEC_FAILURE without a service file or an answer within
// the activation timeout, RPC_E_SERVER_UNAVAILABLE without a session bus.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** object);

// How long a call waits for its reply, in ms, process-wide (default 30000; 0 is taken as 1).
void SetCallTimeout(DWORD milliseconds);

// The service file "<dir>/<name>.service" whose Exec= line (quoted as QuoteCommandLineArg
// quotes, which the bus reads back) starts the class's server. <dir>, made when missing, is
// $XDG_DATA_HOME/dbus-1/services, else ~/.local/share/dbus-1/services with the home from the
// user database, as the bus takes it. False when unwritable or the class is unknown.
bool RegisterBusService(REFCLSID clsid, const std::string& commandLine);
// True when the file is gone.
bool UnregisterBusService(REFCLSID clsid);

// ---------------------------------------------------------------------------------------
// Command lines. LocalServer32 entries are split by the Windows rules:
//   "\"/opt/vesk math/veskmath\" /Automation" -> {"/opt/vesk math/veskmath", "/Automation"}
//   - unquoted blanks and tabs separate arguments; a double quote starts or ends a quoted part;
//   - 2n backslashes before a quote give n backslashes and the quote acts as above, 2n+1 give
//     n backslashes and a literal quote; other backslashes are literal (Unix paths need none).

// As it must be written for SplitCommandLine to give it back; unchanged when it needs no
// quotes (not empty, no blank, tab or quote).
std::string QuoteCommandLineArg(std::string_view argument);
// nullopt for an unterminated quote or a line holding a NUL, CR or LF.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view commandLine);

}  // namespace veskmath::win
