// Window handles, thread queues, and the datagram bridge between processes.
#include "platform/win/Messages.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/rtl/UniqueFd.h"
#include "platform/win/Files.h"

namespace veskmath::win {

namespace {

constexpr unsigned kSlotBits = 9;
constexpr HWND kSlotMask = (1u << kSlotBits) - 1;  // slots 1..511; 0 is never a handle
constexpr std::uint32_t kWireMagic = 0x534D4B56;   // "VKMS"

struct ThreadQueue {
  std::deque<MSG> messages;
  std::condition_variable arrived;
};

struct Window {
  DWORD threadId = 0;
  WindowProc proc;
  bool published = false;
};

// The datagram one process sends to another; all fields in the machine's byte order (both
// ends run on the same machine).
struct Wire {
  std::uint32_t magic;
  std::uint32_t hwnd;
  std::uint32_t message;
  std::uint32_t reserved;
  std::uint64_t wParam;
  std::int64_t lParam;
};

// Process-wide state. Never destroyed: the receiver thread and the queue guards of threads
// that end during exit may still reach it.
struct Registry {
  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;
  std::unordered_map<HWND, Window> windows;
  HWND nextSlot = 1;
  // The receiving socket of this process (made by the first PublishWindow).
  int receiveFd = -1;
  pid_t receivePid = 0;  // the process that made it (a forked child must make its own)
  std::string receivePath;
  // The thread that receives on it, and the event that tells it to stop; joined at the end
  // of the process by the ReceiverOwner.
  std::unique_ptr<std::thread> receiveThread;
  rtl::UniqueFd receiveStop;
  // Thread objects a forked child inherits: their threads exist only in the parent, so they
  // are neither joined nor destroyed here.
  std::vector<std::unique_ptr<std::thread>> inheritedThreads;
};

Registry& Reg() {
  static Registry* registry = new Registry;
  return *registry;
}

DWORD ThisPid() { return GetCurrentProcessId(); }
DWORD PidOf(HWND hwnd) { return hwnd >> kSlotBits; }

// Removes the thread's queue and windows when the thread ends.
struct QueueGuard {
  DWORD threadId = 0;
  ~QueueGuard() {
    if (threadId == 0) return;
    Registry& reg = Reg();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    reg.queues.erase(threadId);
    std::erase_if(reg.windows, [this](const auto& w) { return w.second.threadId == threadId; });
  }
};
thread_local QueueGuard tQueueGuard;

// The calling thread's queue, made on first use. Caller holds the registry lock.
ThreadQueue& OwnQueueLocked(Registry& reg) {
  const DWORD tid = GetCurrentThreadId();
  std::shared_ptr<ThreadQueue>& queue = reg.queues[tid];
  if (!queue) {
    queue = std::make_shared<ThreadQueue>();
    tQueueGuard.threadId = tid;
  }
  return *queue;
}

// The window of this process under `hwnd`, or null with the last error set. Caller holds
// the lock.
Window* FindWindowLocked(Registry& reg, HWND hwnd) {
  const auto w = reg.windows.find(hwnd);
  if (w == reg.windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return &w->second;
}

bool InRange(UINT message, UINT min, UINT max) {
  if (message == WM_QUIT || (min == 0 && max == 0)) return true;
  return message >= min && message <= max;
}

bool Matches(const MSG& m, HWND filter, UINT min, UINT max) {
  if (!InRange(m.message, min, max)) return false;
  if (m.message == WM_QUIT || filter == 0) return true;
  if (filter == HWND_THREAD_ONLY) return m.hwnd == 0;
  return m.hwnd == filter;
}

// Takes (or, without `remove`, copies) the first matching message. Caller holds the lock.
bool TakeLocked(ThreadQueue& queue, MSG* msg, HWND filter, UINT min, UINT max, bool remove) {
  for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
    if (!Matches(*it, filter, min, max)) continue;
    *msg = *it;
    if (remove) queue.messages.erase(it);
    return true;
  }
  return false;
}

// Appends to a queue of this process. Caller holds the lock.
BOOL EnqueueLocked(ThreadQueue& queue, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (queue.messages.size() >= kMaxPostedMessages) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  queue.messages.push_back(MSG{hwnd, message, wParam, lParam, GetTickCount()});
  queue.arrived.notify_all();
  return TRUE;
}

// Posts to a window of this process; `remote` says the message came from another process,
// which may reach published windows only. Caller holds the lock.
BOOL PostLocalLocked(Registry& reg, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                     bool remote) {
  const auto w = reg.windows.find(hwnd);
  if (w == reg.windows.end() || (remote && !w->second.published)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  const auto q = reg.queues.find(w->second.threadId);
  if (q == reg.queues.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return EnqueueLocked(*q->second, hwnd, message, wParam, lParam);
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ECONNREFUSED:
    case ENOTSOCK:
      return ERROR_INVALID_WINDOW_HANDLE;  // nobody listens under that name
    case EAGAIN:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_QUOTA;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    default:
      return 0x20000000u | static_cast<DWORD>(error);
  }
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string SocketPath(DWORD pid) { return UserRuntimeDirectory() + "msg-" + std::to_string(pid); }

// Receives until the stop event fires or the socket fails.
void ReceiveLoop(int fd, int stopFd) {
  Wire wire{};
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;  // told to stop
    const ssize_t n = ::recv(fd, &wire, sizeof wire, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;  // the socket is gone
    }
    if (n != static_cast<ssize_t>(sizeof wire) || wire.magic != kWireMagic) continue;
    Registry& reg = Reg();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    if (reg.receiveFd != fd) return;  // replaced (after a fork)
    PostLocalLocked(reg, wire.hwnd, wire.message, static_cast<WPARAM>(wire.wParam),
                    static_cast<LPARAM>(wire.lParam), true);
  }
}

// The socket path for the signal handlers: written once before they are installed.
char gSignalPath[sizeof(sockaddr_un::sun_path)];
volatile sig_atomic_t gSignalPid = 0;

// Ending by SIGINT, SIGTERM or SIGHUP: the socket goes first, then the signal's default
// action ends the process as it would have. Only async-signal-safe calls.
void RemoveSocketAndEnd(int sig) {
  if (gSignalPid == ::getpid()) ::unlink(gSignalPath);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
}

// Installs the handlers where the program kept the default action (a handler of its own, or
// an ignored signal, is left alone).
void RemoveSocketOnSignals(const std::string& path) {
  path.copy(gSignalPath, sizeof gSignalPath - 1);
  gSignalPath[std::min(path.size(), sizeof gSignalPath - 1)] = '\0';
  gSignalPid = static_cast<sig_atomic_t>(::getpid());
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
        (old.sa_flags & SA_SIGINFO) != 0) {
      continue;
    }
    struct sigaction handler {};
    handler.sa_handler = RemoveSocketAndEnd;
    sigemptyset(&handler.sa_mask);
    ::sigaction(sig, &handler, nullptr);
  }
}

// Removes the message sockets that processes killed without a chance to clean up left in
// the runtime directory: this user's sockets named "msg-<pid>" that nobody receives on.
void SweepDeadSockets(const std::string& directory) {
  DIR* d = ::opendir(directory.c_str());
  if (d == nullptr) return;
  const int dirFd = ::dirfd(d);
  const rtl::UniqueFd probe(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  while (probe.Valid()) {
    const dirent* entry = ::readdir(d);
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name.size() <= 4 || name.substr(0, 4) != "msg-" ||
        name.find_first_not_of("0123456789", 4) != std::string_view::npos) {
      continue;
    }
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(st.st_mode) ||
        st.st_uid != ::geteuid()) {
      continue;
    }
    // A socket whose process ended refuses a connection; a live one (even in another pid
    // namespace) accepts it.
    sockaddr_un address;
    if (!FillAddress(directory + std::string(name), address)) continue;
    if (::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED) {
      ::unlinkat(dirFd, entry->d_name, 0);
    }
  }
  ::closedir(d);
}

// The set-up both ends of the message path share: the socket path (from `makePath`, which
// may fail with EOSError), its address and a datagram socket. An invalid descriptor, with
// the last error set, when any of them cannot be had.
template <class MakePath>
rtl::UniqueFd OpenMessageSocket(MakePath makePath, std::string& path, sockaddr_un& address) {
  try {
    path = makePath();
  } catch (const EOSError& e) {
    SetLastError(e.ErrorCode());
    return {};
  }
  if (!FillAddress(path, address)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  rtl::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) SetLastError(ErrorFromErrno(errno));
  return fd;
}

// Binds this process's receiving socket and starts its thread. Caller holds the lock.
bool OpenReceiverLocked(Registry& reg) {
  if (reg.receiveFd >= 0 && reg.receivePid == ::getpid()) return true;
  std::string path;
  sockaddr_un address;
  rtl::UniqueFd fd = OpenMessageSocket(
      [] {
        const std::string directory = UserRuntimeDirectory();
        SweepDeadSockets(directory);
        return directory + "msg-" + std::to_string(ThisPid());
      },
      path, address);
  if (!fd.Valid()) return false;
  // A file under our process id can only be left by a dead process that had the same id.
  ::unlink(path.c_str());
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  rtl::UniqueFd stop(::eventfd(0, EFD_CLOEXEC));
  if (!stop.Valid()) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  // The descriptor lives until the ReceiverOwner has joined the thread.
  reg.receiveFd = fd.Release();
  reg.receivePid = ::getpid();
  reg.receivePath = path;
  reg.receiveStop = std::move(stop);
  if (reg.receiveThread) reg.inheritedThreads.push_back(std::move(reg.receiveThread));
  RemoveSocketOnSignals(path);
  reg.receiveThread =
      std::make_unique<std::thread>(ReceiveLoop, reg.receiveFd, reg.receiveStop.Get());
  // At the end of the process: stops and joins the thread, then closes and removes the socket.
  static const struct ReceiverOwner {
    ~ReceiverOwner() {
      Registry& r = Reg();
      std::unique_ptr<std::thread> thread;
      {
        const std::lock_guard<std::mutex> lock(r.mutex);
        if (r.receivePid != ::getpid() || !r.receiveThread) return;
        thread = std::move(r.receiveThread);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(r.receiveStop.Get(), &one, sizeof one);
      }
      thread->join();
      const std::lock_guard<std::mutex> lock(r.mutex);
      ::close(r.receiveFd);
      r.receiveFd = -1;
      r.receiveStop.Reset();
      if (!r.receivePath.empty()) ::unlink(r.receivePath.c_str());
    }
  } owner;
  return true;
}

BOOL PostRemote(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::string path;
  sockaddr_un address;
  const rtl::UniqueFd fd =
      OpenMessageSocket([hwnd] { return SocketPath(PidOf(hwnd)); }, path, address);
  if (!fd.Valid()) return FALSE;
  const Wire wire{kWireMagic,
                  hwnd,
                  message,
                  0,
                  static_cast<std::uint64_t>(wParam),
                  static_cast<std::int64_t>(lParam)};
  ssize_t sent;
  do {
    sent = ::sendto(fd.Get(), &wire, sizeof wire, MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (sent < 0 && errno == EINTR);
  if (sent != static_cast<ssize_t>(sizeof wire)) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

}  // namespace

DWORD GetTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

HWND CreateMessageWindow(WindowProc proc) {
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  OwnQueueLocked(reg);
  const HWND base = ThisPid() << kSlotBits;
  // Round robin over the slots, so a destroyed handle is not handed out again soon.
  for (HWND tried = 0; tried < kSlotMask; ++tried) {
    const HWND slot = reg.nextSlot;
    reg.nextSlot = slot == kSlotMask ? 1 : slot + 1;
    const HWND hwnd = base | slot;
    if (reg.windows.contains(hwnd)) continue;
    reg.windows[hwnd] = Window{GetCurrentThreadId(), std::move(proc), false};
    return hwnd;
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return 0;
}

BOOL DestroyWindow(HWND hwnd) {
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  Window* const w = FindWindowLocked(reg, hwnd);
  if (w == nullptr) return FALSE;
  if (w->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (const auto q = reg.queues.find(w->threadId); q != reg.queues.end()) {
    std::erase_if(q->second->messages, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
  }
  reg.windows.erase(hwnd);
  return TRUE;
}

BOOL PublishWindow(HWND hwnd) {
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  Window* const w = FindWindowLocked(reg, hwnd);
  if (w == nullptr || !OpenReceiverLocked(reg)) return FALSE;
  w->published = true;
  return TRUE;
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (hwnd == 0) return PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam);
  {
    Registry& reg = Reg();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    if (reg.windows.contains(hwnd) || PidOf(hwnd) == ThisPid()) {
      return PostLocalLocked(reg, hwnd, message, wParam, lParam, false);
    }
  }
  return PostRemote(hwnd, message, wParam, lParam);
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  if (threadId == GetCurrentThreadId()) {
    return EnqueueLocked(OwnQueueLocked(reg), 0, message, wParam, lParam);
  }
  const auto q = reg.queues.find(threadId);
  if (q == reg.queues.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return EnqueueLocked(*q->second, 0, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT min, UINT max) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  Registry& reg = Reg();
  std::unique_lock<std::mutex> lock(reg.mutex);
  if (hwnd != 0 && hwnd != HWND_THREAD_ONLY) {
    const auto w = reg.windows.find(hwnd);
    if (w == reg.windows.end() || w->second.threadId != GetCurrentThreadId()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return -1;
    }
  }
  ThreadQueue& queue = OwnQueueLocked(reg);
  while (!TakeLocked(queue, msg, hwnd, min, max, true)) queue.arrived.wait(lock);
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT min, UINT max, UINT removeMsg) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  ThreadQueue& queue = OwnQueueLocked(reg);
  return TakeLocked(queue, msg, hwnd, min, max, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == 0) return 0;
  WindowProc proc;
  {
    Registry& reg = Reg();
    const std::lock_guard<std::mutex> lock(reg.mutex);
    const auto w = reg.windows.find(msg->hwnd);
    if (w == reg.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    proc = w->second.proc;  // called without the lock: it may post or destroy windows
  }
  return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

BOOL WaitMessageTimeout(DWORD milliseconds) {
  Registry& reg = Reg();
  std::unique_lock<std::mutex> lock(reg.mutex);
  ThreadQueue& queue = OwnQueueLocked(reg);
  const auto ready = [&queue] { return !queue.messages.empty(); };
  if (milliseconds == INFINITE) {
    queue.arrived.wait(lock, ready);
    return TRUE;
  }
  return queue.arrived.wait_for(lock, std::chrono::milliseconds(milliseconds), ready) ? TRUE
                                                                                      : FALSE;
}

}  // namespace veskmath::win
