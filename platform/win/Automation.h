// Automation runtime: apartments, class objects, activation of local (out-of-process)
// servers, and calls across the process boundary.
//
// SERVER (one process, one serving thread):
//
//   CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);      // the main thread's apartment
//   ComPtr<IClassFactory> factory = MakeClassFactory(create, lockServer);
//   DWORD cookie = 0;
//   HRESULT hr = CoRegisterClassObject(CLSID_X, factory.Get(), CLSCTX_LOCAL_SERVER,
//                                      REGCLS_MULTIPLEUSE, &cookie);
//   MSG msg;
//   while (GetMessageA(&msg, 0, 0, 0) > 0) DispatchMessageA(&msg);   // calls run in here
//   CoRevokeClassObject(cookie);
//   CoUninitialize();
//
//   Registering for CLSCTX_LOCAL_SERVER opens the class's socket (ClassSocketPath) and starts
//   one I/O thread that accepts clients of the same user only and reads their requests. Every
//   request is posted to a hidden message window of the registering thread, so calls reach
//   the objects through that thread's ordinary message loop, one at a time, like any other
//   message; replies are written from that thread. Only one thread of a process may register
//   local-server class objects (RPC_E_WRONG_THREAD for another). Registration answers
//   CO_E_OBJISREG when another live process already serves the class, and E_ACCESSDENIED
//   when the runtime directory or the socket's place is not safe (another user's, a link):
//   a server started on demand should then end.
//
//   Lock counting stays with the server module: its factory-created objects take a module
//   lock while they live, and TClassFactory forwards LockServer. When the count comes back to
//   0 the module posts WM_QUIT to its main thread (for a server started with "/Automation"),
//   the loop ends, and the process revokes and exits. The runtime keeps the count right
//   across the boundary: every object a client holds is one reference held by the server's
//   connection with that client; a client that releases it, disconnects or dies (its socket
//   closes) has all its references released and all its LockServer(TRUE) calls undone on the
//   serving thread, so the module sees its count fall to 0.
//
// CLIENT:
//
//   CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
//   CLSID clsid;  CLSIDFromProgID(u"VeskMath.FuVeskMath", &clsid);
//   ComPtr<IDispatch> obj;
//   hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
//                         reinterpret_cast<void**>(obj.ReleaseAndGetAddressOf()));
//   obj->GetIDsOfNames(...); obj->Invoke(dispId, GUID_NULL, 0, DISPATCH_PROPERTYGET, ...);
//
//   Activation: a class object registered in this process is used directly. Otherwise the
//   client connects to the running server of the CLSID; when none runs it reads
//   HKCR\CLSID\{CLSID}\LocalServer32, splits it into arguments (SplitCommandLine), appends
//   "-Embedding" and starts that program without a shell: detached (own session), stdin,
//   stdout and stderr on /dev/null, no other descriptors, the client's environment. It then
//   waits for the class object at most the activation timeout; a program that cannot be
//   started, ends early or does not register in time gives CO_E_SERVER_EXEC_FAILURE. Two
//   clients that start a server at once serialise on a launch lock, so one server comes up.
//
//   The object handed out is a proxy: it answers IUnknown and IDispatch (other interfaces:
//   E_NOINTERFACE), forwards Invoke with VARIANT arguments by DISPID, and answers
//   GetIDsOfNames from the type-library description of the class when this process knows it
//   (AddKnownTypeLib), else from the server. The server's error information comes back: a
//   failed call leaves the error object on the calling thread (GetErrorInfo), and a
//   DISP_E_EXCEPTION brings its EXCEPINFO. A call waits for its reply at most the call
//   timeout (RPC_E_TIMEOUT); a server that has gone gives RPC_E_DISCONNECTED at once, and
//   every later call on its proxies does too. Proxies may be used from any thread; calls on
//   one connection are serialised, and a waiting client does not dispatch messages.
//
// TRANSPORT: a Unix-domain stream socket per class, "<runtime dir>/class-{CLSID}", where
// the runtime directory is Files.h's UserRuntimeDirectory() (private, 0700; the socket is
// 0600). Both ends check the peer's user id (SO_PEERCRED) and refuse sockets that are links,
// not sockets, or another user's. Messages are length-prefixed frames of at most
// kMaxFramePayload bytes (AutomationWire.h); a malformed, truncated or oversized frame drops
// the connection.
//
// LocalServer32 COMMAND LINES are split by the rules of the Windows command line (below):
// write a program path that contains white space or quotes with QuoteCommandLineArg, e.g.
//   "/opt/vesk math/veskmath" /Automation
// There are no short (8.3) names here; quoting takes their place.
#pragma once

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
inline constexpr HRESULT CO_E_WRONG_SERVER_IDENTITY = MakeHResult(0x80004015);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106);
inline constexpr HRESULT RPC_E_WRONG_THREAD = MakeHResult(0x8001010E);
inline constexpr HRESULT RPC_E_INVALID_DATA = MakeHResult(0x8001010F);
inline constexpr HRESULT RPC_E_TIMEOUT = MakeHResult(0x8001011F);
inline constexpr HRESULT RPC_E_SERVERFAULT = MakeHResult(0x80010105);  // a member threw
inline constexpr HRESULT CO_E_SERVER_STOPPING = MakeHResult(0x80004028);

// ---------------------------------------------------------------------------------------
// Apartments

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Enters the calling thread into an apartment. S_OK the first time, S_FALSE for a nested call
// of the same kind (each needs its CoUninitialize), RPC_E_CHANGED_MODE for the other kind.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
// Leaves it; the last call on the serving thread revokes that thread's class objects,
// disconnects every client (releasing what they held) and stops the I/O thread.
void CoUninitialize();

// ---------------------------------------------------------------------------------------
// Class objects

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_SERVER = 0x15;
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
// CLSCTX_LOCAL_SERVER other processes reach it through its socket. The calling thread must
// be in a single-threaded apartment. CO_E_OBJISREG when this process or another live one
// already serves the class.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsContext, DWORD flags,
                              DWORD* cookie);
// Closes the socket and releases the factory; objects already handed out live on.
// E_INVALIDARG for an unknown cookie.
HRESULT CoRevokeClassObject(DWORD cookie);
// Stops taking new clients before a server decides to end: the class sockets close and
// their locks are released (a client that connects now finds or starts the next server),
// and creation or LockServer requests on connections already open are refused with
// CO_E_SERVER_STOPPING, which a client answers by activating again. Objects already handed
// out are served on. S_FALSE when already suspended.
HRESULT CoSuspendClassObjects();
// Takes clients again after CoSuspendClassObjects (the sockets are opened anew).
// CO_E_OBJISREG when another process serves a class meanwhile: the process stays suspended.
HRESULT CoResumeClassObjects();

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

// The switch appended to LocalServer32 when the runtime starts a server.
inline constexpr const char* kEmbeddingSwitch = "-Embedding";

// The socket of a class in the user's runtime directory. Throws EOSError when that
// directory is refused (Files.h).
std::string ClassSocketPath(REFCLSID clsid);

// ---------------------------------------------------------------------------------------
// Command lines (Windows rules, as the operating system's argument splitter applies them)
//
//   - arguments are separated by unquoted blanks and tabs;
//   - a double quote starts or ends a quoted part, in which blanks are kept;
//   - 2n backslashes before a quote give n backslashes and the quote acts as above;
//     2n+1 backslashes before a quote give n backslashes and a literal quote;
//   - backslashes not followed by a quote are literal (so Unix paths need no escaping).
// "\"/opt/a b/prog\" /Automation" -> {"/opt/a b/prog", "/Automation"}

// The argument as it must be written so that SplitCommandLine gives it back; unchanged when it
// needs no quotes (not empty, no blank, tab or quote).
std::string QuoteCommandLineArg(std::string_view argument);
// nullopt for an unterminated quote or a line holding a NUL, CR or LF.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view commandLine);

}  // namespace veskmath::win
