// Client half of the automation runtime: registry look-ups, command lines, starting a local
// server, connections with bounded waits, and the proxies that stand for remote objects.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/rtl/UniqueFd.h"
#include "platform/win/AutomationInternal.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"
#include "platform/win/Process.h"
#include "platform/win/RegistryFile.h"
#include "platform/win/TestHooks.h"

namespace veskmath::win {

using automation::Clock;

namespace {

std::atomic<DWORD> gActivationTimeout{10000};
std::atomic<DWORD> gCallTimeout{30000};

Clock::time_point DeadlineIn(DWORD milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds);
}

std::optional<std::string> ReadDefault(const std::string& key) {
  try {
    RegistryFile file(RegistryFile::DefaultPath());
    const std::optional<RegValue> value = file.GetValue(HKEY_CLASSES_ROOT, key, "");
    if (!value || value->kind != RegValue::Kind::String) return std::nullopt;
    return value->text;
  } catch (const rtl::Exception&) {
    return std::nullopt;  // an unreadable registry registers nothing
  }
}

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GUIDToString(clsid); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Shared helpers

namespace automation {

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

PathState InspectSocketPath(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return errno == ENOENT ? PathState::Absent : PathState::Refused;
  // A link could lead a client to a socket someone else planted; another user's socket in our
  // directory has no business there.
  if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) return PathState::Refused;
  return PathState::Socket;
}

bool PeerIsSameUser(int fd) {
  ucred cred{};
  socklen_t length = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) return false;
  return cred.uid == ::geteuid();
}

bool SendAll(int fd, std::span<const std::uint8_t> bytes, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n =
        ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      const int left = MillisecondsLeft(deadline);
      if (left == 0) return false;
      if (::poll(&p, 1, left) < 0 && errno != EINTR) return false;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace automation

// ---------------------------------------------------------------------------------------
// Settings, paths and registry look-ups

void SetActivationTimeout(DWORD milliseconds) {
  gActivationTimeout = milliseconds == 0 ? 1 : milliseconds;
}
DWORD GetActivationTimeout() { return gActivationTimeout; }
void SetCallTimeout(DWORD milliseconds) { gCallTimeout = milliseconds == 0 ? 1 : milliseconds; }
DWORD GetCallTimeout() { return gCallTimeout; }

std::string ClassSocketPath(REFCLSID clsid) {
  return UserRuntimeDirectory() + "class-" + GUIDToString(clsid);
}

HRESULT CLSIDFromProgID(const char16_t* progId, CLSID* clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  *clsid = GUID_NULL;
  if (progId == nullptr || *progId == u'\0') return CO_E_CLASSSTRING;
  const std::string name = WideToUtf8(progId);
  if (!SplitKeyPath(name) || name.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
  const std::optional<std::string> text = ReadDefault(name + "\\CLSID");
  if (!text) return CO_E_CLASSSTRING;
  const std::optional<GUID> parsed = ParseGUID(std::string_view(*text));
  if (!parsed) return CO_E_CLASSSTRING;
  *clsid = *parsed;
  return S_OK;
}

std::optional<std::u16string> ProgIDFromRegistry(REFCLSID clsid) {
  const std::optional<std::string> text = ReadDefault(ClassKey(clsid) + "\\ProgID");
  if (!text || text->empty()) return std::nullopt;
  return Utf8ToWide(*text);
}

// ---------------------------------------------------------------------------------------
// Command lines

std::string QuoteCommandLineArg(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) {
    return std::string(argument);
  }
  // "a b" -> "\"a b\""; a quote inside becomes \" and the backslashes before a quote (or
  // before the closing quote) are doubled.
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view line) {
  if (line.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
    return std::nullopt;
  }
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inArgument) args.push_back(std::move(current));
      current.clear();
      inArgument = false;
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      std::size_t n = 0;
      while (i < line.size() && line[i] == '\\') {
        ++n;
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        // "\\\"" -> one backslash and a literal quote; "\\\\\"" -> one backslash, then the
        // quote opens or closes.
        current.append(n / 2, '\\');
        if (n % 2 == 1) {
          current.push_back('"');
          ++i;
        }
      } else {
        current.append(n, '\\');  // "/opt\\x" keeps its backslash
      }
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      ++i;
      continue;
    }
    current.push_back(c);
    ++i;
  }
  if (quoted) return std::nullopt;  // "\"/opt/a b" -> refused: the quote never closes
  if (inArgument) args.push_back(std::move(current));
  return args;
}

namespace {

// ---------------------------------------------------------------------------------------
// Connections

class ClientConnection {
 public:
  explicit ClientConnection(rtl::UniqueFd fd) : FFd(std::move(fd)) {}

  // Sends a request and waits for its reply, at most the call timeout.
  HRESULT Call(const wire::Message& request, wire::Reply& reply) {
    const std::lock_guard<std::mutex> lock(FMutex);
    if (FBroken) return RPC_E_DISCONNECTED;
    const std::optional<std::vector<std::uint8_t>> frame = wire::EncodeFrame(request);
    if (!frame) return E_OUTOFMEMORY;  // arguments beyond what one message carries
    const Clock::time_point deadline = DeadlineIn(gCallTimeout);
    if (!automation::SendAll(FFd.Get(), *frame, deadline)) return Break(RPC_E_DISCONNECTED);
    for (;;) {
      const wire::DecodeResult r = wire::DecodeFrame(FInput);
      if (r.status == wire::FrameStatus::Complete) {
        auto* answer = std::get_if<wire::Reply>(&*r.message);
        if (answer == nullptr) return Break(RPC_E_INVALID_DATA);
        reply = std::move(*answer);
        FInput.erase(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(r.size));
        return S_OK;
      }
      if (r.status != wire::FrameStatus::Incomplete) return Break(RPC_E_INVALID_DATA);
      const int left = automation::MillisecondsLeft(deadline);
      if (left == 0) return Break(RPC_E_TIMEOUT);
      pollfd p{FFd.Get(), POLLIN, 0};
      const int ready = ::poll(&p, 1, left);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) continue;  // the deadline check above ends the wait
      std::uint8_t chunk[4096];
      const ssize_t n = ::recv(FFd.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        FInput.insert(FInput.end(), chunk, chunk + n);
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
        return Break(RPC_E_DISCONNECTED);
      }
    }
  }

  // A message without reply (Release): best effort, never waits long.
  void Post(const wire::Message& message) {
    const std::lock_guard<std::mutex> lock(FMutex);
    if (FBroken) return;
    const std::optional<std::vector<std::uint8_t>> frame = wire::EncodeFrame(message);
    if (!frame || !automation::SendAll(FFd.Get(), *frame, DeadlineIn(gCallTimeout))) {
      Break(RPC_E_DISCONNECTED);
    }
  }

 private:
  // After a failure the stream is out of step: no later call may use it.
  HRESULT Break(HRESULT hr) {
    FBroken = true;
    ::shutdown(FFd.Get(), SHUT_RDWR);
    return hr;
  }

  rtl::UniqueFd FFd;
  std::mutex FMutex;
  bool FBroken = false;
  std::vector<std::uint8_t> FInput;
};

using ConnectionPtr = std::shared_ptr<ClientConnection>;

// Puts the server's error object of a failed call on the calling thread.
void ApplyErrorInfo(const wire::Reply& reply) {
  if (!reply.errorInfo) return;
  ICreateErrorInfo* raw = nullptr;
  if (FAILED(CreateErrorInfo(&raw)) || raw == nullptr) return;
  const ComPtr<ICreateErrorInfo> create = ComPtr<ICreateErrorInfo>::Attach(raw);
  const wire::ErrorInfoData& e = *reply.errorInfo;
  create->SetGUID(e.guid);
  create->SetSource(e.source.c_str());
  create->SetDescription(e.description.c_str());
  create->SetHelpFile(e.helpFile.c_str());
  create->SetHelpContext(e.helpContext);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.Get());
}

// A text beyond what one message carries (about 512K UTF-16 units): refused with a clear
// description instead of a bare out-of-memory code.
HRESULT TextTooLong(EXCEPINFO* excepInfo) {
  const std::u16string text = u"text too long";
  ICreateErrorInfo* raw = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&raw)) && raw != nullptr) {
    const ComPtr<ICreateErrorInfo> create = ComPtr<ICreateErrorInfo>::Attach(raw);
    create->SetDescription(text.c_str());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.Get());
  }
  if (excepInfo != nullptr) {
    *excepInfo = EXCEPINFO{};
    excepInfo->bstrDescription = SysAllocString(text.c_str());
    excepInfo->scode = E_INVALIDARG;
  }
  return DISP_E_EXCEPTION;
}

// Runs a call: clears the thread's error information first and sets the server's after a
// failure. Answers the transport's failure or the member's HRESULT.
HRESULT Roundtrip(ClientConnection& conn, const wire::Message& request, wire::Reply& reply) {
  SetErrorInfo(0, nullptr);
  const HRESULT hr = conn.Call(request, reply);
  if (FAILED(hr)) return hr;
  ApplyErrorInfo(reply);
  return reply.hr;
}

// ---------------------------------------------------------------------------------------
// Proxies

// Stands for one reference the server holds for this client: the remote object `FObject`.
class TDispatchProxy final : public IDispatch {
 public:
  TDispatchProxy(ConnectionPtr conn, wire::ObjectId object, CLSID clsid)
      : FConn(std::move(conn)), FObject(object), FClsid(clsid) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++FRefs; }
  ULONG Release() override {
    const ULONG left = --FRefs;
    if (left == 0) {
      FConn->Post(wire::ReleaseRequest{FObject});
      delete this;
    }
    return left;
  }

  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    wire::Reply reply;
    const HRESULT hr = Roundtrip(*FConn, wire::GetTypeInfoCountRequest{FObject}, reply);
    if (SUCCEEDED(hr)) *count = reply.value;
    return hr;
  }

  HRESULT GetIDsOfNames(REFIID riid, const char16_t* const* names, UINT nameCount, LCID lcid,
                        DISPID* dispIds) override {
    if (riid != GUID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (nameCount == 0) return S_OK;
    if (names == nullptr || dispIds == nullptr) return E_POINTER;
    // The description this process links answers without a round trip.
    if (const TCoClassDesc* cls = FindKnownCoClass(FClsid); cls && cls->defaultInterface) {
      return DispGetIDsOfNames(*cls->defaultInterface, names, nameCount, dispIds);
    }
    wire::GetIDsOfNamesRequest request;
    request.object = FObject;
    request.iid = riid;
    request.lcid = lcid;
    for (UINT i = 0; i < nameCount; ++i) {
      if (names[i] == nullptr) return E_POINTER;
      request.names.emplace_back(names[i]);
    }
    wire::Reply reply;
    const HRESULT hr = Roundtrip(*FConn, request, reply);
    for (UINT i = 0; i < nameCount; ++i) {
      dispIds[i] = i < reply.dispIds.size() ? reply.dispIds[i] : DISPID_UNKNOWN;
    }
    return hr;
  }

  HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
    wire::InvokeRequest request;
    request.object = FObject;
    request.dispId = dispId;
    request.iid = riid;
    request.lcid = lcid;
    request.flags = flags;
    request.wantResult = result != nullptr;
    if (params != nullptr) {
      if ((params->cArgs > 0 && params->rgvarg == nullptr) ||
          (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
      }
      if (params->cArgs > wire::kMaxArguments || params->cNamedArgs > wire::kMaxArguments) {
        return DISP_E_BADPARAMCOUNT;
      }
      for (UINT i = 0; i < params->cArgs; ++i) {
        const VARTYPE vt = params->rgvarg[i].vt;
        if (vt != VT_EMPTY && vt != VT_NULL && vt != VT_I4 && vt != VT_BOOL && vt != VT_ERROR &&
            vt != VT_BSTR) {
          if (argErr) *argErr = i;
          return DISP_E_BADVARTYPE;  // nothing else crosses the process boundary
        }
        request.args.push_back(params->rgvarg[i]);
      }
      request.namedArgs.assign(params->rgdispidNamedArgs,
                               params->rgdispidNamedArgs + params->cNamedArgs);
    }
    if (!wire::EncodeFrame(request)) {
      SetErrorInfo(0, nullptr);
      return TextTooLong(excepInfo);
    }
    wire::Reply reply;
    const HRESULT hr = Roundtrip(*FConn, request, reply);
    if (result != nullptr && reply.result) *result = std::move(*reply.result);
    if (excepInfo != nullptr && reply.excepInfo) *excepInfo = std::move(*reply.excepInfo);
    if (argErr != nullptr &&
        (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND || hr == DISP_E_OVERFLOW)) {
      *argErr = reply.value;
    }
    return hr;
  }

 private:
  ~TDispatchProxy() = default;

  ConnectionPtr FConn;
  wire::ObjectId FObject;
  CLSID FClsid;
  std::atomic<ULONG> FRefs{0};
};

// Hands out a proxy for a remote object the server has just given us; only IUnknown and
// IDispatch can be offered (a typed vtable cannot be made up at run time).
HRESULT MakeProxy(const ConnectionPtr& conn, wire::ObjectId object, REFCLSID clsid, REFIID riid,
                  void** result) {
  auto* proxy = new TDispatchProxy(conn, object, clsid);
  proxy->AddRef();
  const HRESULT hr = proxy->QueryInterface(riid, result);
  proxy->Release();  // on failure this releases the server's reference too
  return hr;
}

bool ProxyableInterface(REFIID riid) { return riid == IID_IUnknown || riid == IID_IDispatch; }

// The remote class object: CreateInstance and LockServer go to the server.
class TClassFactoryProxy final : public TComObject<IClassFactory> {
 public:
  TClassFactoryProxy(ConnectionPtr conn, CLSID clsid) : FConn(std::move(conn)), FClsid(clsid) {}

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;  // never across processes
    if (!ProxyableInterface(riid)) return E_NOINTERFACE;
    wire::Reply reply;
    const HRESULT hr = Roundtrip(*FConn, wire::CreateInstanceRequest{riid}, reply);
    if (FAILED(hr)) return hr;
    return MakeProxy(FConn, reply.object, FClsid, riid, object);
  }
  HRESULT LockServer(BOOL lock) override {
    wire::Reply reply;
    return Roundtrip(*FConn, wire::LockServerRequest{lock != FALSE}, reply);
  }

 private:
  ConnectionPtr FConn;
  CLSID FClsid;
};

// ---------------------------------------------------------------------------------------
// Activation

enum class ConnectResult { Connected, Absent, Busy, Refused };

ConnectResult TryConnect(const std::string& path, rtl::UniqueFd& fdOut) {
  fdOut.Reset();
  switch (automation::InspectSocketPath(path)) {
    case automation::PathState::Absent:
      return ConnectResult::Absent;
    case automation::PathState::Refused:
      return ConnectResult::Refused;
    case automation::PathState::Socket:
      break;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return ConnectResult::Refused;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  rtl::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return ConnectResult::Busy;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    if (error == ECONNREFUSED || error == ENOENT) return ConnectResult::Absent;  // stale socket
    if (error == EACCES || error == EPERM) return ConnectResult::Refused;
    return ConnectResult::Busy;  // EAGAIN: the server's backlog is full for now
  }
  if (!automation::PeerIsSameUser(fd.Get())) return ConnectResult::Refused;
  fdOut = std::move(fd);
  return ConnectResult::Connected;
}

// The launch lock: one client of the user starts a class's server at a time.
// Invalid when it cannot be had before the deadline; closing the descriptor releases it.
rtl::UniqueFd AcquireLaunchLock(const std::string& path, Clock::time_point deadline) {
  rtl::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.Valid()) return fd;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    return {};
  }
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (automation::MillisecondsLeft(deadline) == 0) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fd;
}

// Whether a started server has already ended (its pidfd became readable).
bool HasEnded(int pidFd) {
  if (pidFd < 0) return false;  // no way to tell: the deadline decides
  pollfd p{pidFd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// Connects to the server of the class, starting it when none runs, before the deadline. A
// server may end at any moment (its last client left): one that vanishes before we reach it,
// even the one we started, is followed by the next one.
HRESULT Activate(REFCLSID clsid, ConnectionPtr& connection, Clock::time_point deadline) {
  std::string path;
  try {
    path = ClassSocketPath(clsid);
  } catch (const EOSError&) {
    return E_ACCESSDENIED;  // the runtime directory is not safe to use
  }
  rtl::UniqueFd fd;
  auto connected = [&] {
    connection = std::make_shared<ClientConnection>(std::move(fd));
    return S_OK;
  };
  std::optional<std::vector<std::string>> args;
  for (int launches = 0;;) {
    // A running server (possibly with a full backlog for a moment).
    ConnectResult r = TryConnect(path, fd);
    if (r == ConnectResult::Connected) return connected();
    if (r == ConnectResult::Refused) return E_ACCESSDENIED;
    if (automation::MillisecondsLeft(deadline) == 0) return CO_E_SERVER_EXEC_FAILURE;
    if (r == ConnectResult::Busy) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }

    if (!args) {
      const std::optional<std::string> command = ReadDefault(ClassKey(clsid) + "\\LocalServer32");
      if (!command) return REGDB_E_CLASSNOTREG;
      args = SplitCommandLine(*command);
      // No shell and no search path: the program is named by its full path.
      if (!args || args->empty() || args->front().empty() || args->front().front() != '/') {
        return CO_E_SERVER_EXEC_FAILURE;
      }
      args->push_back(kEmbeddingSwitch);
    }
    // A server we start may serve other clients and end before we reach it (they find its
    // socket first), so starts are bounded by the deadline; after a few the pace slows, in
    // case each one ends at once because it cannot register.
    if (launches > 4) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10 * launches, 200)));
      if (automation::MillisecondsLeft(deadline) == 0) return CO_E_SERVER_EXEC_FAILURE;
    }

    const rtl::UniqueFd launchLock = AcquireLaunchLock(path + ".launch", deadline);
    if (!launchLock.Valid()) return CO_E_SERVER_EXEC_FAILURE;
    // Another client may have started it while we waited for the lock.
    r = TryConnect(path, fd);
    if (r == ConnectResult::Connected) return connected();
    if (r == ConnectResult::Refused) return E_ACCESSDENIED;

    ++launches;
    TStartOptions hidden;
    hidden.quiet = true;  // it serves hidden; its output has no reader
    const pid_t server = StartDetached(*args, hidden);
    if (server < 0) return CO_E_SERVER_EXEC_FAILURE;
    // (glibc 2.36's <sys/pidfd.h> lacks C linkage for C++, so the system call is made directly.)
    const rtl::UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, server, 0)));
    for (;;) {
      const bool ended = HasEnded(pidFd.Get());
      r = TryConnect(path, fd);
      if (r == ConnectResult::Connected) return connected();
      if (r == ConnectResult::Refused) return E_ACCESSDENIED;
      if (automation::MillisecondsLeft(deadline) == 0) return CO_E_SERVER_EXEC_FAILURE;
      // It ended: it served another client who has left, or another process serves the
      // class. Look again from the start.
      if (ended) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
}

ComPtr<IClassFactory> LocalFactory(REFCLSID clsid, DWORD clsContext) {
  if ((clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)) == 0) return nullptr;
  return automation::FindLocalClassObject(clsid);
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsContext, void* /*serverInfo*/, REFIID riid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!automation::ApartmentInitialized()) return CO_E_NOTINITIALIZED;
  if (const ComPtr<IClassFactory> local = LocalFactory(clsid, clsContext)) {
    return local->QueryInterface(riid, object);
  }
  if ((clsContext & CLSCTX_LOCAL_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  ConnectionPtr conn;
  const HRESULT hr = Activate(clsid, conn, DeadlineIn(gActivationTimeout));
  if (FAILED(hr)) return hr;
  const ComPtr<TClassFactoryProxy> proxy = MakeComObject<TClassFactoryProxy>(conn, clsid);
  return proxy->QueryInterface(riid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!automation::ApartmentInitialized()) return CO_E_NOTINITIALIZED;
  if (const ComPtr<IClassFactory> local = LocalFactory(clsid, clsContext)) {
    return local->CreateInstance(outer, riid, object);
  }
  if ((clsContext & CLSCTX_LOCAL_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (!ProxyableInterface(riid)) return E_NOINTERFACE;
  // A server that is ending refuses the request (CO_E_SERVER_STOPPING) or drops the
  // connection before answering: the next server is found or started, within the bound.
  const Clock::time_point deadline = DeadlineIn(gActivationTimeout);
  for (;;) {
    ConnectionPtr conn;
    HRESULT hr = Activate(clsid, conn, deadline);
    if (FAILED(hr)) return hr;
    wire::Reply reply;
    hr = Roundtrip(*conn, wire::CreateInstanceRequest{riid}, reply);
    if (SUCCEEDED(hr)) return MakeProxy(conn, reply.object, clsid, riid, object);
    if (hr != RPC_E_DISCONNECTED && hr != CO_E_SERVER_STOPPING) return hr;
    if (automation::MillisecondsLeft(deadline) == 0) return hr;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace veskmath::win
