// Server half of the automation runtime: apartments, class-object registration, the I/O
// thread that accepts clients and reads their requests, and the stubs that run each request
// on the serving thread (through its message loop) and write the reply.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/rtl/UniqueFd.h"
#include "platform/win/AutomationInternal.h"
#include "platform/win/Files.h"
#include "platform/win/Messages.h"

namespace veskmath::win {

using automation::Clock;

// ---------------------------------------------------------------------------------------
// Class factory helper

TClassFactory::TClassFactory(Creator create, Locker lock)
    : FCreate(std::move(create)), FLock(std::move(lock)) {}

HRESULT TClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  // Aggregation works only when the outer object asks for the inner IUnknown.
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  if (!FCreate) return E_UNEXPECTED;
  return FCreate(outer, riid, object);
}

HRESULT TClassFactory::LockServer(BOOL lock) {
  if (FLock) FLock(lock != FALSE);
  return S_OK;
}

ComPtr<IClassFactory> MakeClassFactory(TClassFactory::Creator create, TClassFactory::Locker lock) {
  return ComPtr<IClassFactory>(new TClassFactory(std::move(create), std::move(lock)));
}

namespace {

// ---------------------------------------------------------------------------------------
// State

constexpr UINT kCallMessage = WM_USER + 1;        // lParam: connection id
constexpr UINT kDisconnectMessage = WM_USER + 2;  // lParam: connection id
constexpr std::size_t kMaxConnections = 256;
constexpr std::size_t kMaxPendingPerConnection = 32;  // beyond: stop reading until drained
constexpr std::size_t kMaxObjectsPerConnection = 4096;
constexpr std::size_t kReadChunk = 64 * 1024;
// A client must take a reply within this time, or it is dropped; the serving thread never
// waits for it (the I/O thread sends what the socket did not take at once).
constexpr auto kReplyTimeout = std::chrono::seconds(5);
constexpr std::size_t kMaxUnsentBytes = 4u << 20;  // beyond: a client that does not read
// A connection that holds no object or lock and says nothing for this long is closed.
constexpr auto kIdleTimeout = std::chrono::seconds(60);

struct Connection {
  rtl::UniqueFd fd;
  std::uint64_t id = 0;
  CLSID clsid;
  // I/O thread only.
  std::vector<std::uint8_t> input;
  // Guarded by State::mutex.
  std::deque<wire::Message> pending;
  bool ioDone = false;               // the I/O thread no longer watches fd
  bool disconnectPosted = false;     // the serving thread has been told
  std::vector<std::uint8_t> unsent;  // replies the socket has not taken yet
  Clock::time_point unsentSince;
  Clock::time_point lastActive = Clock::now();
  bool holds = false;  // objects or locks (kept up by the serving thread)
  // Serving thread only.
  ComPtr<IClassFactory> classObject;
  std::map<wire::ObjectId, ComPtr<IUnknown>> objects;
  wire::ObjectId nextObject = 1;
  int locks = 0;  // LockServer(TRUE) calls not yet undone
};

struct Registration {
  DWORD cookie = 0;
  CLSID clsid;
  ComPtr<IClassFactory> factory;
  DWORD context = 0;
  DWORD threadId = 0;
  rtl::UniqueFd listenFd;
  rtl::UniqueFd lockFd;  // held for the registration's life
  std::string socketPath;
  dev_t dev = 0;
  ino_t ino = 0;
};

struct State {
  std::mutex mutex;
  std::vector<Registration> registrations;
  DWORD nextCookie = 1;
  DWORD servingThread = 0;
  HWND window = 0;
  std::map<std::uint64_t, std::shared_ptr<Connection>> connections;
  std::uint64_t nextConnection = 1;
  std::vector<rtl::UniqueFd> listenFdsToClose;  // closed by the I/O thread, which may poll them
  std::thread io;
  rtl::UniqueFd wakeFd;
  bool stopping = false;
  bool suspended = false;  // CoSuspendClassObjects: no new objects, no new clients
};

State& S() {
  static State* state = new State;  // the I/O thread may outlive static destruction
  return *state;
}

struct Apartment {
  int count = 0;
  DWORD mode = 0;
};
thread_local Apartment tApartment;

void Wake(State& s) {
  if (!s.wakeFd.Valid()) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(s.wakeFd.Get(), &one, sizeof one);
}

// ---------------------------------------------------------------------------------------
// I/O thread

void DropLocked(State& s, Connection& conn);

// Whether a connection may be closed to make room: it holds nothing and waits for nothing.
bool IdleLocked(const Connection& conn) {
  return !conn.ioDone && !conn.holds && conn.pending.empty() && conn.unsent.empty();
}

// Closes the connection idle the longest, to admit a new client when all places are taken
// (idle connections must not lock the user's clients out). False when none is idle.
bool EvictIdleLocked(State& s) {
  Connection* oldest = nullptr;
  for (const auto& [id, conn] : s.connections) {
    if (IdleLocked(*conn) && (oldest == nullptr || conn->lastActive < oldest->lastActive)) {
      oldest = conn.get();
    }
  }
  if (oldest == nullptr) return false;
  ::shutdown(oldest->fd.Get(), SHUT_RDWR);
  DropLocked(s, *oldest);
  return true;
}

// Accepts every waiting client of the same user.
void AcceptClients(State& s, int listenFd, REFCLSID clsid) {
  for (;;) {
    rtl::UniqueFd fd(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd.Valid()) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: nobody else waits; other errors: try again at the next wake
    }
    // Another user's process is refused without a word.
    if (!automation::PeerIsSameUser(fd.Get())) continue;
    const std::lock_guard<std::mutex> lock(s.mutex);
    // Connections already dropped but not yet released by the serving thread count too.
    if (s.suspended || (s.connections.size() >= kMaxConnections && !EvictIdleLocked(s))) {
      continue;
    }
    auto conn = std::make_shared<Connection>();
    conn->fd = std::move(fd);
    conn->id = s.nextConnection++;
    conn->clsid = clsid;
    s.connections.emplace(conn->id, conn);
  }
}

// Ends the I/O thread's part of a connection and tells the serving thread. Caller holds the
// lock.
void DropLocked(State& s, Connection& conn) {
  conn.ioDone = true;
  conn.input.clear();
  conn.input.shrink_to_fit();
  if (!conn.disconnectPosted) {
    conn.disconnectPosted =
        PostMessageA(s.window, kDisconnectMessage, 0, static_cast<LPARAM>(conn.id)) != FALSE;
  }
}

// Reads what the client sent and queues every complete request.
void ReadFrom(State& s, const std::shared_ptr<Connection>& conn) {
  bool closed = false;
  std::uint8_t chunk[4096];
  std::size_t taken = 0;
  while (taken < kReadChunk) {
    const ssize_t n = ::recv(conn->fd.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      conn->input.insert(conn->input.end(), chunk, chunk + n);
      taken += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    closed = true;  // end of stream or a socket error
    break;
  }
  const std::lock_guard<std::mutex> lock(s.mutex);
  if (taken > 0) conn->lastActive = Clock::now();
  bool bad = false;
  std::size_t offset = 0;
  while (!bad) {
    const wire::DecodeResult r =
        wire::DecodeFrame(std::span<const std::uint8_t>(conn->input).subspan(offset));
    if (r.status == wire::FrameStatus::Incomplete) break;
    if (r.status != wire::FrameStatus::Complete ||
        std::holds_alternative<wire::Reply>(*r.message)) {
      bad = true;  // malformed, oversized, or a reply where a request belongs
      break;
    }
    offset += r.size;
    conn->pending.push_back(std::move(*r.message));
    if (PostMessageA(s.window, kCallMessage, 0, static_cast<LPARAM>(conn->id)) == FALSE) {
      bad = true;  // the serving thread's queue is full: give up on this client
    }
  }
  conn->input.erase(conn->input.begin(), conn->input.begin() + static_cast<std::ptrdiff_t>(offset));
  if (bad || closed) DropLocked(s, *conn);
}

// Sends what the socket takes now of a connection's unsent replies. False when the
// connection failed. Caller holds the lock.
bool FlushLocked(Connection& conn) {
  std::size_t sent = 0;
  while (sent < conn.unsent.size()) {
    const ssize_t n = ::send(conn.fd.Get(), conn.unsent.data() + sent, conn.unsent.size() - sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  conn.unsent.erase(conn.unsent.begin(), conn.unsent.begin() + static_cast<std::ptrdiff_t>(sent));
  if (sent > 0) conn.unsentSince = Clock::now();  // the client reads: its time starts again
  return true;
}

// Ends a connection that broke one of the time rules. Caller holds the lock.
void ExpireLocked(State& s, Connection& conn, Clock::time_point now) {
  const bool slowReader = !conn.unsent.empty() && now - conn.unsentSince > kReplyTimeout;
  const bool idle = IdleLocked(conn) && now - conn.lastActive > kIdleTimeout;
  if (slowReader || idle) {
    ::shutdown(conn.fd.Get(), SHUT_RDWR);
    DropLocked(s, conn);
  }
}

void IoLoop() {
  State& s = S();
  std::vector<pollfd> fds;
  struct Target {
    int listenFd = -1;
    CLSID clsid;
    std::shared_ptr<Connection> conn;
  };
  std::vector<Target> targets;
  for (;;) {
    fds.clear();
    targets.clear();
    bool retryLater = false;
    bool timed = false;  // some connection has a deadline to watch
    {
      const std::lock_guard<std::mutex> lock(s.mutex);
      if (s.stopping) return;
      const Clock::time_point now = Clock::now();
      for (const auto& [id, conn] : s.connections) {
        if (!conn->ioDone) ExpireLocked(s, *conn, now);
      }
      s.listenFdsToClose.clear();
      fds.push_back(pollfd{s.wakeFd.Get(), POLLIN, 0});
      targets.push_back(Target{});
      for (const Registration& r : s.registrations) {
        if (!r.listenFd.Valid()) continue;
        fds.push_back(pollfd{r.listenFd.Get(), POLLIN, 0});
        targets.push_back(Target{r.listenFd.Get(), r.clsid, nullptr});
      }
      for (const auto& [id, conn] : s.connections) {
        if (conn->ioDone) {
          if (!conn->disconnectPosted) {
            DropLocked(s, *conn);
            retryLater = retryLater || !conn->disconnectPosted;
          }
          continue;
        }
        timed = timed || !conn->holds || !conn->unsent.empty();
        // A client that does not take its replies is not read until it does; one with many
        // requests waiting is not read until the serving thread catches up.
        if (!conn->unsent.empty()) {
          fds.push_back(pollfd{conn->fd.Get(), POLLOUT, 0});
          targets.push_back(Target{-1, GUID_NULL, conn});
          continue;
        }
        if (conn->pending.size() >= kMaxPendingPerConnection) continue;
        fds.push_back(pollfd{conn->fd.Get(), POLLIN, 0});
        targets.push_back(Target{-1, GUID_NULL, conn});
      }
    }
    const int ready = ::poll(fds.data(), fds.size(), retryLater ? 50 : timed ? 1000 : -1);
    if (ready < 0) continue;  // EINTR
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      if (i == 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(s.wakeFd.Get(), &value, sizeof value);
      } else if (targets[i].conn && fds[i].events == POLLOUT) {
        const std::lock_guard<std::mutex> lock(s.mutex);
        Connection& conn = *targets[i].conn;
        if (!conn.ioDone && !FlushLocked(conn)) DropLocked(s, conn);
      } else if (targets[i].conn) {
        ReadFrom(s, targets[i].conn);
      } else {
        AcceptClients(s, targets[i].listenFd, targets[i].clsid);
      }
    }
  }
}

// Starts the I/O thread once. Caller holds the lock.
HRESULT StartIoLocked(State& s) {
  if (s.io.joinable()) return S_OK;
  s.wakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!s.wakeFd.Valid()) return E_OUTOFMEMORY;
  s.stopping = false;
  s.io = std::thread(IoLoop);
  return S_OK;
}

// ---------------------------------------------------------------------------------------
// Stubs: requests run on the serving thread

// The connection's class object, or null once the process no longer takes new objects.
ComPtr<IClassFactory> ClassObjectOf(State& s, Connection& conn) {
  const std::lock_guard<std::mutex> lock(s.mutex);
  if (s.suspended) return nullptr;
  if (!conn.classObject) {
    for (const Registration& r : s.registrations) {
      if (r.clsid == conn.clsid && r.listenFd.Valid()) conn.classObject = r.factory;
    }
  }
  return conn.classObject;
}

// Keeps an interface pointer for the client; the id stands for that one reference.
HRESULT AddObject(Connection& conn, void* raw, wire::Reply& reply) {
  ComPtr<IUnknown> object = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(raw));
  if (conn.objects.size() >= kMaxObjectsPerConnection || conn.nextObject == 0) {
    return E_OUTOFMEMORY;  // released on return
  }
  reply.object = conn.nextObject++;
  conn.objects.emplace(reply.object, std::move(object));
  return S_OK;
}

ComPtr<IDispatch> DispatchOf(Connection& conn, wire::ObjectId id, HRESULT& hr) {
  ComPtr<IDispatch> dispatch;
  const auto it = conn.objects.find(id);
  if (it == conn.objects.end()) {
    hr = E_INVALIDARG;
    return dispatch;
  }
  hr = it->second.As(dispatch);
  return dispatch;
}

std::optional<wire::Reply> Execute(State& s, Connection& conn, wire::Message& message) {
  wire::Reply reply;
  HRESULT& hr = reply.hr;
  if (auto* create = std::get_if<wire::CreateInstanceRequest>(&message)) {
    const ComPtr<IClassFactory> factory = ClassObjectOf(s, conn);
    if (!factory) {
      hr = CO_E_SERVER_STOPPING;
    } else {
      void* raw = nullptr;
      hr = factory->CreateInstance(nullptr, create->iid, &raw);
      if (SUCCEEDED(hr) && raw != nullptr) hr = AddObject(conn, raw, reply);
    }
  } else if (auto* lockReq = std::get_if<wire::LockServerRequest>(&message)) {
    if (lockReq->lock) {
      const ComPtr<IClassFactory> factory = ClassObjectOf(s, conn);
      if (!factory) {
        hr = CO_E_SERVER_STOPPING;
      } else {
        hr = factory->LockServer(TRUE);
        if (SUCCEEDED(hr)) ++conn.locks;
      }
    } else if (conn.locks == 0 || !conn.classObject) {
      hr = E_UNEXPECTED;  // an unlock this client never locked would free another's lock
    } else {
      // Undoing a lock works while suspended too: it may be what lets the process end.
      const ComPtr<IClassFactory> factory = conn.classObject;
      hr = factory->LockServer(FALSE);
      if (SUCCEEDED(hr)) --conn.locks;
    }
  } else if (auto* query = std::get_if<wire::QueryInterfaceRequest>(&message)) {
    const auto it = conn.objects.find(query->object);
    if (it == conn.objects.end()) {
      hr = E_INVALIDARG;
    } else {
      void* raw = nullptr;
      hr = it->second->QueryInterface(query->iid, &raw);
      if (SUCCEEDED(hr) && raw != nullptr) hr = AddObject(conn, raw, reply);
    }
  } else if (auto* release = std::get_if<wire::ReleaseRequest>(&message)) {
    conn.objects.erase(release->object);
    return std::nullopt;
  } else if (auto* count = std::get_if<wire::GetTypeInfoCountRequest>(&message)) {
    const ComPtr<IDispatch> dispatch = DispatchOf(conn, count->object, hr);
    if (dispatch) hr = dispatch->GetTypeInfoCount(&reply.value);
  } else if (auto* names = std::get_if<wire::GetIDsOfNamesRequest>(&message)) {
    const ComPtr<IDispatch> dispatch = DispatchOf(conn, names->object, hr);
    if (dispatch) {
      std::vector<const char16_t*> texts;
      for (const std::u16string& name : names->names) texts.push_back(name.c_str());
      reply.dispIds.assign(texts.size(), DISPID_UNKNOWN);
      hr = dispatch->GetIDsOfNames(names->iid, texts.data(), static_cast<UINT>(texts.size()),
                                   names->lcid, reply.dispIds.data());
    }
  } else if (auto* invoke = std::get_if<wire::InvokeRequest>(&message)) {
    const ComPtr<IDispatch> dispatch = DispatchOf(conn, invoke->object, hr);
    if (dispatch) {
      DISPPARAMS params;
      params.rgvarg = invoke->args.empty() ? nullptr : invoke->args.data();
      params.cArgs = static_cast<UINT>(invoke->args.size());
      params.rgdispidNamedArgs = invoke->namedArgs.empty() ? nullptr : invoke->namedArgs.data();
      params.cNamedArgs = static_cast<UINT>(invoke->namedArgs.size());
      VARIANT result;
      EXCEPINFO excepInfo;
      UINT argErr = 0;
      hr = dispatch->Invoke(invoke->dispId, invoke->iid, invoke->lcid, invoke->flags, &params,
                            invoke->wantResult ? &result : nullptr, &excepInfo, &argErr);
      reply.value = argErr;
      if (SUCCEEDED(hr) && invoke->wantResult) reply.result = std::move(result);
      if (hr == DISP_E_EXCEPTION) reply.excepInfo = std::move(excepInfo);
    }
  }
  return reply;
}

// Carries the serving thread's error object of a failed call to the client.
void AttachErrorInfo(wire::Reply& reply) {
  if (SUCCEEDED(reply.hr)) return;
  IErrorInfo* raw = nullptr;
  if (GetErrorInfo(0, &raw) != S_OK || raw == nullptr) return;
  const ComPtr<IErrorInfo> info = ComPtr<IErrorInfo>::Attach(raw);
  wire::ErrorInfoData data;
  info->GetGUID(&data.guid);
  info->GetSource(&data.source);
  info->GetDescription(&data.description);
  info->GetHelpFile(&data.helpFile);
  info->GetHelpContext(&data.helpContext);
  reply.errorInfo = std::move(data);
}

std::shared_ptr<Connection> FindConnection(State& s, std::uint64_t id) {
  const std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = s.connections.find(id);
  return it == s.connections.end() ? nullptr : it->second;
}

void OnCall(State& s, std::uint64_t id) {
  const std::shared_ptr<Connection> conn = FindConnection(s, id);
  if (!conn) return;
  wire::Message message;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    if (conn->pending.empty() || conn->disconnectPosted) return;
    const bool wasFull = conn->pending.size() >= kMaxPendingPerConnection;
    message = std::move(conn->pending.front());
    conn->pending.pop_front();
    if (wasFull) Wake(s);
  }
  SetErrorInfo(0, nullptr);
  std::optional<wire::Reply> reply;
  try {
    reply = Execute(s, *conn, message);
  } catch (...) {
    reply = wire::Reply{};
    reply->hr = RPC_E_SERVERFAULT;  // a member that throws must not take the server down
  }
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    conn->holds = !conn->objects.empty() || conn->locks > 0;
    conn->lastActive = Clock::now();
  }
  if (!reply) return;
  AttachErrorInfo(*reply);
  SetErrorInfo(0, nullptr);
  std::optional<std::vector<std::uint8_t>> frame = wire::EncodeFrame(*reply);
  if (!frame) {
    // Only a text can outgrow a message (a result of more than about 512K UTF-16 units).
    wire::Reply tooLarge;
    tooLarge.hr = DISP_E_EXCEPTION;
    EXCEPINFO info;
    info.bstrDescription = SysAllocString(u"text too long");
    info.scode = E_INVALIDARG;
    tooLarge.excepInfo = std::move(info);
    wire::ErrorInfoData error;
    error.description = SysAllocString(u"text too long");
    tooLarge.errorInfo = std::move(error);
    frame = wire::EncodeFrame(tooLarge);
  }
  // What the socket does not take at once is left to the I/O thread: a client that stops
  // reading must not hold up everyone else's calls.
  const std::lock_guard<std::mutex> lock(s.mutex);
  if (conn->ioDone) return;
  const bool wasEmpty = conn->unsent.empty();
  conn->unsent.insert(conn->unsent.end(), frame->begin(), frame->end());
  conn->lastActive = Clock::now();
  if (wasEmpty) conn->unsentSince = conn->lastActive;
  if (!FlushLocked(*conn) || conn->unsent.size() > kMaxUnsentBytes) {
    // The I/O thread sees the shut socket and reports the disconnection.
    ::shutdown(conn->fd.Get(), SHUT_RDWR);
  } else if (!conn->unsent.empty() && wasEmpty) {
    Wake(s);
  }
}

// Releases everything a client held and undoes its locks.
void ReleaseConnection(Connection& conn) {
  conn.objects.clear();
  while (conn.locks > 0 && conn.classObject) {
    --conn.locks;
    conn.classObject->LockServer(FALSE);
  }
  conn.classObject.Reset();
  conn.fd.Reset();
}

void OnDisconnect(State& s, std::uint64_t id) {
  std::shared_ptr<Connection> conn;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.connections.find(id);
    if (it == s.connections.end() || !it->second->ioDone) return;
    conn = it->second;
    s.connections.erase(it);
    conn->pending.clear();
  }
  ReleaseConnection(*conn);
}

LRESULT ServingWindowProc(HWND, UINT message, WPARAM, LPARAM lParam) {
  State& s = S();
  const auto id = static_cast<std::uint64_t>(lParam);
  if (message == kCallMessage) OnCall(s, id);
  if (message == kDisconnectMessage) OnDisconnect(s, id);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Registration

// Opens the class's socket under the class lock. Fills listenFd, lockFd, socketPath, dev, ino.
HRESULT OpenClassSocket(Registration& r) {
  std::string path;
  try {
    path = ClassSocketPath(r.clsid);
  } catch (const EOSError&) {
    return E_ACCESSDENIED;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return E_INVALIDARG;

  // The lock file says which process serves the class: held for the registration's life.
  const std::string lockPath = path + ".lock";
  rtl::UniqueFd lockFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lockFd.Valid()) return E_ACCESSDENIED;
  struct stat st {};
  if (::fstat(lockFd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    return E_ACCESSDENIED;
  }
  if (::flock(lockFd.Get(), LOCK_EX | LOCK_NB) != 0) {
    return CO_E_OBJISREG;  // another live process serves the class
  }
  // Nobody serves the class, so a socket left at the path is stale: remove it. Anything that
  // is not our own socket is left for the user to look at.
  switch (automation::InspectSocketPath(path)) {
    case automation::PathState::Refused:
      return E_ACCESSDENIED;
    case automation::PathState::Socket:
      ::unlink(path.c_str());
      break;
    case automation::PathState::Absent:
      break;
  }
  rtl::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) return E_OUTOFMEMORY;
  // Bound and listening under a name of its own first, then renamed into place: a client
  // that finds the socket can connect (between bind and listen it would be refused, and
  // would take the class for not served). The directory is private, so nobody reaches the
  // socket between bind and chmod. A path with no room for the suffix is bound in place.
  const std::string bound = path.size() + 1 < sizeof address.sun_path ? path + "~" : path;
  std::memcpy(address.sun_path, bound.c_str(), bound.size() + 1);
  if (struct stat left{};
      bound != path && ::lstat(bound.c_str(), &left) == 0 && S_ISSOCK(left.st_mode)) {
    ::unlink(bound.c_str());  // left by a server killed in between; ours, as the lock says
  }
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return E_ACCESSDENIED;
  if (::chmod(bound.c_str(), 0600) != 0 || ::listen(fd.Get(), 64) != 0 ||
      (bound != path && ::rename(bound.c_str(), path.c_str()) != 0) ||
      ::lstat(path.c_str(), &st) != 0) {
    ::unlink(bound.c_str());
    return E_ACCESSDENIED;
  }
  // The registration owns both from here (CloseClassSocketLocked gives them up).
  r.listenFd = std::move(fd);
  r.lockFd = std::move(lockFd);
  r.socketPath = path;
  r.dev = st.st_dev;
  r.ino = st.st_ino;
  return S_OK;
}

// Removes the socket (when it is still ours) and hands the listening descriptor to the I/O
// thread to close. Caller holds the lock.
void CloseClassSocketLocked(State& s, Registration& r) {
  if (!r.listenFd.Valid()) return;
  struct stat st {};
  if (::lstat(r.socketPath.c_str(), &st) == 0 && st.st_dev == r.dev && st.st_ino == r.ino) {
    ::unlink(r.socketPath.c_str());
  }
  s.listenFdsToClose.push_back(std::move(r.listenFd));
  r.lockFd.Reset();
  Wake(s);
}

// Opens the sockets of the local registrations that have none. Caller holds the lock.
HRESULT OpenClassSocketsLocked(State& s) {
  for (Registration& r : s.registrations) {
    if (r.listenFd.Valid() || (r.context & CLSCTX_LOCAL_SERVER) == 0) continue;
    const HRESULT hr = OpenClassSocket(r);
    if (FAILED(hr)) return hr;
  }
  Wake(s);
  return S_OK;
}

// Ends serving: called by the serving thread's last CoUninitialize.
void StopServing(State& s) {
  std::vector<ComPtr<IClassFactory>> factories;
  std::map<std::uint64_t, std::shared_ptr<Connection>> connections;
  std::thread io;
  HWND window = 0;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    for (Registration& r : s.registrations) {
      CloseClassSocketLocked(s, r);
      factories.push_back(std::move(r.factory));
    }
    s.registrations.clear();
    s.stopping = true;
    Wake(s);
    io = std::move(s.io);
  }
  if (io.joinable()) io.join();
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    s.listenFdsToClose.clear();
    connections.swap(s.connections);
    s.wakeFd.Reset();
    s.stopping = false;
    s.suspended = false;
    window = s.window;
    s.window = 0;
    s.servingThread = 0;
  }
  for (auto& [id, conn] : connections) ReleaseConnection(*conn);
  connections.clear();
  factories.clear();
  if (window != 0) DestroyWindow(window);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public API

namespace automation {

bool ApartmentInitialized() { return tApartment.count > 0; }

ComPtr<IClassFactory> FindLocalClassObject(REFCLSID clsid) {
  State& s = S();
  const std::lock_guard<std::mutex> lock(s.mutex);
  for (const Registration& r : s.registrations) {
    if (r.clsid == clsid) return r.factory;
  }
  return nullptr;
}

}  // namespace automation

HRESULT CoInitializeEx(void* /*reserved*/, DWORD coInit) {
  if (coInit != COINIT_APARTMENTTHREADED && coInit != COINIT_MULTITHREADED) return E_INVALIDARG;
  Apartment& a = tApartment;
  if (a.count > 0) {
    if (a.mode != coInit) return RPC_E_CHANGED_MODE;
    ++a.count;
    return S_FALSE;
  }
  a.count = 1;
  a.mode = coInit;
  return S_OK;
}

void CoUninitialize() {
  Apartment& a = tApartment;
  if (a.count == 0) return;
  if (--a.count > 0) return;
  State& s = S();
  bool serving = false;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    serving = s.servingThread == GetCurrentThreadId();
  }
  if (serving) {
    StopServing(s);
  } else {
    // In-process registrations of this thread end with its apartment.
    std::vector<ComPtr<IClassFactory>> factories;
    const std::lock_guard<std::mutex> lock(s.mutex);
    std::erase_if(s.registrations, [&](Registration& r) {
      if (r.threadId != GetCurrentThreadId()) return false;
      factories.push_back(std::move(r.factory));
      return true;
    });
  }
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD clsContext, DWORD flags,
                              DWORD* cookie) {
  if (cookie == nullptr || factory == nullptr) return E_POINTER;
  *cookie = 0;
  if (flags != REGCLS_MULTIPLEUSE) return E_INVALIDARG;
  if ((clsContext & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)) == 0) return E_INVALIDARG;
  if (!automation::ApartmentInitialized()) return CO_E_NOTINITIALIZED;
  const bool local = (clsContext & CLSCTX_LOCAL_SERVER) != 0;
  if (local && tApartment.mode != COINIT_APARTMENTTHREADED) return RPC_E_CHANGED_MODE;

  Registration r;
  r.clsid = clsid;
  r.context = clsContext;
  r.threadId = GetCurrentThreadId();
  void* raw = nullptr;
  if (FAILED(factory->QueryInterface(IID_IClassFactory, &raw))) return E_NOINTERFACE;
  r.factory = ComPtr<IClassFactory>::Attach(static_cast<IClassFactory*>(raw));

  State& s = S();
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    for (const Registration& other : s.registrations) {
      if (other.clsid == clsid) return CO_E_OBJISREG;
    }
    if (local && s.servingThread != 0 && s.servingThread != GetCurrentThreadId()) {
      return RPC_E_WRONG_THREAD;
    }
  }
  if (local) {
    const HRESULT hr = OpenClassSocket(r);
    if (FAILED(hr)) return hr;
  }
  // The hidden window that carries requests to this thread's message loop, made once.
  bool needWindow = false;
  {
    const std::lock_guard<std::mutex> lock(s.mutex);
    needWindow = local && s.window == 0;
  }
  HWND window = 0;
  if (needWindow) {
    window = CreateMessageWindow(ServingWindowProc);
    if (window == 0) {
      ::unlink(r.socketPath.c_str());  // r's descriptors close as it goes
      return E_OUTOFMEMORY;
    }
  }
  const std::lock_guard<std::mutex> lock(s.mutex);
  if (local) {
    if (window != 0) s.window = window;
    s.servingThread = GetCurrentThreadId();
    const HRESULT hr = StartIoLocked(s);
    if (FAILED(hr)) {
      CloseClassSocketLocked(s, r);
      return hr;
    }
  }
  r.cookie = s.nextCookie++;
  *cookie = r.cookie;
  s.registrations.push_back(std::move(r));
  Wake(s);
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  State& s = S();
  ComPtr<IClassFactory> factory;  // released outside the lock
  const std::lock_guard<std::mutex> lock(s.mutex);
  const auto it = std::find_if(s.registrations.begin(), s.registrations.end(),
                               [cookie](const Registration& r) { return r.cookie == cookie; });
  if (it == s.registrations.end()) return E_INVALIDARG;
  CloseClassSocketLocked(s, *it);
  factory = std::move(it->factory);
  s.registrations.erase(it);
  return S_OK;
}

HRESULT CoSuspendClassObjects() {
  State& s = S();
  const std::lock_guard<std::mutex> lock(s.mutex);
  if (s.suspended) return S_FALSE;
  s.suspended = true;
  // Clients still in the listen backlog see their connection reset and activate again.
  for (Registration& r : s.registrations) CloseClassSocketLocked(s, r);
  return S_OK;
}

HRESULT CoResumeClassObjects() {
  State& s = S();
  const std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.suspended) return S_FALSE;
  const HRESULT hr = OpenClassSocketsLocked(s);
  if (FAILED(hr)) {
    for (Registration& r : s.registrations) CloseClassSocketLocked(s, r);
    return hr;
  }
  s.suspended = false;
  return S_OK;
}

}  // namespace veskmath::win
