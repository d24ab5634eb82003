// Window handles, thread queues, and posts to the windows of other processes (by the bus).
#include "platform/win/Messages.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/rtl/UniqueFd.h"
#include "platform/win/AutomationInternal.h"

namespace veskmath::win {

namespace {

constexpr unsigned kSlotBits = 9;
constexpr HWND kSlotMask = (1u << kSlotBits) - 1;  // slots 1..511; 0 is never a handle

struct Watch {
  HWND hwnd = 0;
  UINT message = 0;
  int fd = -1;
  std::function<short()> events;
};

struct ThreadQueue {
  std::deque<MSG> messages;
  std::condition_variable arrived;
  // With a watched descriptor the thread waits in poll(), which a post wakes through `wake`.
  std::optional<Watch> watch;
  rtl::UniqueFd wake;
};

struct Window {
  DWORD threadId = 0;
  WindowProc proc;
  bool published = false;
};

// Process-wide state. Never destroyed: the bus's listening thread and the queue guards of
// threads that end during exit may still reach it.
struct Registry {
  std::mutex mutex;
  std::unordered_map<DWORD, std::shared_ptr<ThreadQueue>> queues;
  std::unordered_map<HWND, Window> windows;
  HWND nextSlot = 1;
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
  if (queue.wake.Valid()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(queue.wake.Get(), &one, sizeof one);
  }
  return TRUE;
}

using Clock = std::chrono::steady_clock;

// Waits, the lock held on entry and on return, until `ready` holds or the deadline passes;
// a watched descriptor that becomes ready posts its message meanwhile. Answers `ready()`.
bool WaitLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue,
                const std::function<bool()>& ready, std::optional<Clock::time_point> deadline) {
  while (!ready()) {
    if (deadline && Clock::now() >= *deadline) return false;
    if (!queue.watch) {
      if (!deadline) {
        queue.arrived.wait(lock);
      } else {
        queue.arrived.wait_until(lock, *deadline);
      }
      continue;
    }
    const Watch& w = *queue.watch;
    const bool queued =
        std::any_of(queue.messages.begin(), queue.messages.end(),
                    [&w](const MSG& m) { return m.hwnd == w.hwnd && m.message == w.message; });
    const short events = queued ? 0 : w.events();
    pollfd fds[2] = {{queue.wake.Get(), POLLIN, 0}, {events != 0 ? w.fd : -1, events, 0}};
    const auto left = deadline
                          ? std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now())
                          : std::chrono::milliseconds(-1);
    const int timeout = deadline ? std::max(0, static_cast<int>(left.count())) : -1;
    const HWND hwnd = w.hwnd;
    const UINT message = w.message;
    lock.unlock();
    ::poll(fds, 2, timeout);
    if ((fds[0].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(fds[0].fd, &count, sizeof count);
    }
    lock.lock();
    if (fds[1].revents != 0 && queue.watch) EnqueueLocked(queue, hwnd, message, 0, 0);
  }
  return true;
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

}  // namespace

namespace automation {

BOOL PostToPublishedWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (PidOf(hwnd) != ThisPid()) return FALSE;
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  return PostLocalLocked(reg, hwnd, message, wParam, lParam, true);
}

}  // namespace automation

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
  {
    const std::lock_guard<std::mutex> lock(reg.mutex);
    if (FindWindowLocked(reg, hwnd) == nullptr) return FALSE;
  }
  if (!automation::ListenForPosts()) {
    SetLastError(ERROR_ACCESS_DENIED);  // no session bus to listen on
    return FALSE;
  }
  const std::lock_guard<std::mutex> lock(reg.mutex);
  Window* const w = FindWindowLocked(reg, hwnd);
  if (w == nullptr) return FALSE;
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
  // Another process's window: only the bus knows whether anyone receives it.
  if (!automation::EmitPost(hwnd, message, wParam, lParam)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
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
  WaitLocked(
      lock, queue, [&] { return TakeLocked(queue, msg, hwnd, min, max, true); }, std::nullopt);
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
  std::optional<Clock::time_point> deadline;
  if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  return WaitLocked(lock, queue, ready, deadline) ? TRUE : FALSE;
}

void WatchDescriptor(HWND hwnd, UINT message, int fd, std::function<short()> events) {
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  ThreadQueue& queue = OwnQueueLocked(reg);
  if (!queue.wake.Valid()) queue.wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  queue.watch = Watch{hwnd, message, fd, std::move(events)};
}

void UnwatchDescriptor() {
  Registry& reg = Reg();
  const std::lock_guard<std::mutex> lock(reg.mutex);
  OwnQueueLocked(reg).watch.reset();
}

}  // namespace veskmath::win
