// Automation runtime: apartments, class objects, activation of local (out-of-process)
// servers, and calls across the process boundary, carried by the user's D-Bus session bus.
//
// SERVER (one process, one serving thread):
//
//   CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
//   AddKnownTypeLib(kLibrary);                              // the class's names on the bus
//   DWORD cookie = 0;
//   HRESULT hr = CoRegisterClassObject(CLSID_X, MakeClassFactory(create, lockServer).Get(),
//                                      CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
//   MSG msg;
//   while (GetMessageA(&msg, 0, 0, 0) > 0) DispatchMessageA(&msg);   // calls run in here
//   CoRevokeClassObject(cookie);
//   CoUninitialize();
//
//   The registering thread's message loop watches the bus connection, so calls reach the
//   objects one at a time, like any other message. Lock counting stays with the server module
//   (its objects hold a module lock; TClassFactory forwards LockServer; at 0 it posts WM_QUIT).
//   The runtime keeps the count right across the boundary: every object a client holds is one
//   reference kept for that client, and a client that releases it or leaves the bus (exits,
//   crashes, is killed) has its references released and its LockServer(TRUE) calls undone on
//   the serving thread. A lost bus connection counts as every client leaving.
//
// CLIENT:
//
//   CLSID clsid;  CLSIDFromProgID(u"VeskMath.FuVeskMath", &clsid);  AddKnownTypeLib(kLibrary);
//   hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
//                         reinterpret_cast<void**>(object.ReleaseAndGetAddressOf()));
//
//   A class registered in this process is used directly. Otherwise the class needs a
//   LocalServer32 entry and a known description (else REGDB_E_CLASSNOTREG); the bus starts its
//   server from the service file (RegisterBusService) when nobody owns the name, with the
//   session's environment, once, whoever asks first. No service file, or a server that does not
//   come up within the activation timeout, gives CO_E_SERVER_EXEC_FAILURE; no session bus
//   RPC_E_SERVER_UNAVAILABLE; both leave error information that says why.
//
//   The object is a proxy answering IUnknown and IDispatch (else E_NOINTERFACE): GetIDsOfNames
//   from the description; Invoke coerces the arguments to the declared types and calls the
//   server that made the object. A member's failure brings its error information (GetErrorInfo)
//   and, for DISP_E_EXCEPTION, its EXCEPINFO. No reply within the call timeout gives
//   RPC_E_TIMEOUT, a server that has gone RPC_E_DISCONNECTED. Proxies may be used from any
//   thread; the calls of a process share one connection, one call at a time.
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
// Leaves it; the last call on the serving thread revokes that thread's class objects,
// disconnects every client (releasing what they held) and closes the connection.
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
// object asks for IUnknown (CLASS_E_NOAGGREGATION), then calls `create`; LockServer calls
// `lock(true)` or `lock(false)`.
class TClassFactory : public TComObject<IClassFactory> {
 public:
  using Creator = std::function<HRESULT(IUnknown* outer, REFIID riid, void** object)>;
  using Locker = std::function<void(bool lock)>;

  TClassFactory(Creator create, Locker lock);

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  Creator FCreate;
  Locker FLock;
};

// A TClassFactory handed out as its interface, ready for CoRegisterClassObject.
ComPtr<IClassFactory> MakeClassFactory(TClassFactory::Creator create, TClassFactory::Locker lock);

// Registers `factory` (which must answer IClassFactory) for `clsid`. Only
// REGCLS_MULTIPLEUSE (one process serves every client) is supported (else E_INVALIDARG).
// CLSCTX_INPROC_SERVER alone makes it reachable from this process only; with
// CLSCTX_LOCAL_SERVER other processes reach it through the bus, and the calling thread must
// be in a single-threaded apartment and the only one of the process that registers them
// (else RPC_E_WRONG_THREAD). CO_E_OBJISREG when this process or another live one already
// serves the class; RPC_E_SERVER_UNAVAILABLE without a session bus (a server started on demand
// should then end).
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsContext, DWORD flags,
                              DWORD* cookie);
// Gives up the name and releases the factory; objects already handed out live on.
// E_INVALIDARG for an unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);
// Stops taking new clients before a server decides to end: the well-known names are given
// up (a client that asks now reaches, or has the bus start, the next server), and creation
// or LockServer requests already on their way are refused with CO_E_SERVER_STOPPING, which a
// client answers by asking again. Objects already handed out are served on. S_FALSE when
// already suspended.
HRESULT CoSuspendClassObjects();
// Takes clients again after CoSuspendClassObjects (the names are taken anew).
// CO_E_OBJISREG when another process took a name meanwhile: the process stays suspended.
HRESULT CoResumeClassObjects();

// Class methods: what a class's hosts need beyond its interface, offered by its server on the
// class object beside the class factory, under the interface "<library>.<interfaceName>"
// ("VeskMath.Diagnostics"): one text in, one text out, both UTF-8, run on the serving thread.
// A method that throws answers RPC_E_SERVERFAULT with the exception's text. Add them before
// CoRegisterClassObject.
using TClassMethod = std::function<std::string(const std::string& argument)>;
void AddClassMethod(REFCLSID clsid, std::string interfaceName, std::string member,
                    TClassMethod method);
// Calls one on the class's server (the bus starts it when none runs), waiting at most the
// call timeout. Failures as for CoCreateInstance, with error information.
HRESULT CallClassMethod(REFCLSID clsid, const std::string& interfaceName, const std::string& member,
                        const std::string& argument, std::string& answer);

// ---------------------------------------------------------------------------------------
// Activation

// HKCR\<progId>\CLSID (default). CO_E_CLASSSTRING when the ProgID is not registered or its
// entry is not a CLSID.
HRESULT CLSIDFromProgID(const char16_t* progId, CLSID* clsid);
// HKCR\CLSID\{CLSID}\ProgID (default), for SetProgIDResolver (OleTypes.h).
std::optional<std::u16string> ProgIDFromRegistry(REFCLSID clsid);

// Creates an object. An outer object with a local server gives CLASS_E_NOAGGREGATION;
// REGDB_E_CLASSNOTREG when the class has no registration here nor a LocalServer32 entry.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** object);

// How long a call waits for its reply in milliseconds, process-wide (default 30000; 0 is
// taken as 1: there is always a bound).
void SetCallTimeout(DWORD milliseconds);

// The class's well-known name on the session bus ("VeskMath.FuVeskMath"); empty when this
// process knows no description of the class.
std::string BusNameOf(REFCLSID clsid);

// The D-Bus service file that lets the bus start the class's server:
// "<dir>/<name>.service" with Exec= the command line, where <dir> is
// $XDG_DATA_HOME/dbus-1/services (else <home>/.local/share/dbus-1/services, the home
// directory from the user database as the bus reads it), made when missing.
// The bus runs Exec= with its own (shell-like) quoting, which reads a LocalServer32 line as
// QuoteCommandLineArg wrote it. False when it cannot be written (or the class is unknown).
bool RegisterBusService(REFCLSID clsid, const std::string& commandLine);
// Removes that file; true when it is gone.
bool UnregisterBusService(REFCLSID clsid);
std::string BusServiceFilePath(REFCLSID clsid);

// ---------------------------------------------------------------------------------------
// Command lines. LocalServer32 entries are split by the Windows rules, as the operating
// system's argument splitter applies them (there are no 8.3 names here; quoting takes their
// place): "\"/opt/vesk math/veskmath\" /Automation" -> {"/opt/vesk math/veskmath", "/Automation"}
//   - arguments are separated by unquoted blanks and tabs;
//   - a double quote starts or ends a quoted part, in which blanks are kept;
//   - 2n backslashes before a quote give n backslashes and the quote acts as above;
//     2n+1 backslashes before a quote give n backslashes and a literal quote;
//   - backslashes not followed by a quote are literal (so Unix paths need no escaping).

// The argument as it must be written so that SplitCommandLine gives it back; unchanged when it
// needs no quotes (not empty, no blank, tab or quote).
std::string QuoteCommandLineArg(std::string_view argument);
// nullopt for an unterminated quote or a line holding a NUL, CR or LF.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view commandLine);

}  // namespace veskmath::win
