#include "platform/win/Messages.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
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
  // With watched descriptors the thread waits in poll(), which a post wakes through `wake`.
  // Only the owner thread changes its watches.
  std::vector<Watch> watches;
  rtl::UniqueFd wake;
};

struct Window {
  DWORD threadId = 0;
  WindowProc proc;
  bool published = false;
};

// Never destroyed: the queue guards of threads ending during exit may still reach it. A queue
// keeps its place in the map until its thread ends, so the thread may hold it while it waits.
struct Registry {
  std::mutex mutex;
  std::unordered_map<DWORD, ThreadQueue> queues;
  std::unordered_map<HWND, Window> windows;
  HWND nextSlot = 1;
};

// The process-wide state, locked for as long as the caller keeps the lock.
std::pair<Registry&, std::unique_lock<std::mutex>> Locked() {
  static Registry* registry = new Registry;
  return {*registry, std::unique_lock<std::mutex>(registry->mutex)};
}

DWORD PidOf(HWND hwnd) { return hwnd >> kSlotBits; }

// Removes the thread's queue and windows when the thread ends.
struct QueueGuard {
  DWORD threadId = 0;
  ~QueueGuard() {
    if (threadId == 0) return;
    auto [reg, lock] = Locked();
    reg.queues.erase(threadId);
    std::erase_if(reg.windows, [this](const auto& w) { return w.second.threadId == threadId; });
  }
};
thread_local QueueGuard tQueueGuard;

// The calling thread's queue, made on first use. Caller holds the registry lock.
ThreadQueue& OwnQueueLocked(Registry& reg) {
  tQueueGuard.threadId = GetCurrentThreadId();
  return reg.queues[tQueueGuard.threadId];
}

// The window under `hwnd`, or null with the last error set. Caller holds the lock.
Window* FindWindowLocked(Registry& reg, HWND hwnd) {
  const auto w = reg.windows.find(hwnd);
  if (w == reg.windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return &w->second;
}

bool Matches(const MSG& m, HWND filter, UINT min, UINT max) {
  if (m.message == WM_QUIT) return true;
  if ((min != 0 || max != 0) && (m.message < min || m.message > max)) return false;
  return filter == 0 || m.hwnd == filter;
}

// Takes (or, without `remove`, copies) the first matching message. Caller holds the lock.
bool TakeLocked(ThreadQueue& queue, MSG* msg, HWND filter, UINT min, UINT max, bool remove) {
  const auto it = std::ranges::find_if(queue.messages,
                                       [&](const MSG& m) { return Matches(m, filter, min, max); });
  if (it == queue.messages.end()) return false;
  *msg = *it;
  if (remove) queue.messages.erase(it);
  return true;
}

// Appends to a queue of this process. Caller holds the lock.
BOOL EnqueueLocked(ThreadQueue& queue, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (queue.messages.size() >= kMaxPostedMessages) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  queue.messages.push_back(MSG{hwnd, message, wParam, lParam});
  queue.arrived.notify_all();
  if (queue.wake.Valid()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(queue.wake.Get(), &one, sizeof one);
  }
  return TRUE;
}

using Clock = std::chrono::steady_clock;

// Waits, the lock held on entry and on return, until `ready` holds or the deadline passes;
// watched descriptors that become ready post their messages meanwhile. Answers `ready()`.
bool WaitLocked(std::unique_lock<std::mutex>& lock, ThreadQueue& queue,
                const std::function<bool()>& ready, std::optional<Clock::time_point> deadline) {
  while (!ready()) {
    if (deadline && Clock::now() >= *deadline) return false;
    if (queue.watches.empty()) {
      if (!deadline) {
        queue.arrived.wait(lock);
      } else {
        queue.arrived.wait_until(lock, *deadline);
      }
      continue;
    }
    std::vector<pollfd> fds = {{queue.wake.Get(), POLLIN, 0}};
    for (const Watch& w : queue.watches) {
      const bool queued = std::ranges::any_of(queue.messages, [&w](const MSG& m) {
        return m.hwnd == w.hwnd && m.message == w.message;
      });
      const short events = queued ? 0 : w.events();
      fds.push_back({events != 0 ? w.fd : -1, events, 0});
    }
    const auto left = deadline
                          ? std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now())
                          : std::chrono::milliseconds(-1);
    const int timeout =
        deadline ? static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX)) : -1;
    lock.unlock();
    ::poll(fds.data(), fds.size(), timeout);
    if ((fds[0].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(fds[0].fd, &count, sizeof count);
    }
    lock.lock();
    // The watches are still those polled: only this thread changes them.
    for (std::size_t i = 0; i < queue.watches.size(); ++i) {
      const Watch& w = queue.watches[i];
      if (fds[i + 1].revents != 0) EnqueueLocked(queue, w.hwnd, w.message, 0, 0);
    }
  }
  return true;
}

// `remote`: from another process, which may reach published windows only. Caller holds the lock.
BOOL PostLocalLocked(Registry& reg, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                     bool remote) {
  const Window* const w = FindWindowLocked(reg, hwnd);
  if (w == nullptr) return FALSE;
  const auto q = reg.queues.find(w->threadId);
  if ((remote && !w->published) || q == reg.queues.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return EnqueueLocked(q->second, hwnd, message, wParam, lParam);
}

}  // namespace

namespace automation {

BOOL PostToPublishedWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (PidOf(hwnd) != GetCurrentProcessId()) return FALSE;
  auto [reg, lock] = Locked();
  return PostLocalLocked(reg, hwnd, message, wParam, lParam, true);
}

}  // namespace automation

HWND CreateMessageWindow(WindowProc proc) {
  auto [reg, lock] = Locked();
  OwnQueueLocked(reg);
  const HWND base = GetCurrentProcessId() << kSlotBits;
  // Round robin over the slots, so a destroyed handle is not handed out again soon.
  for (HWND tried = 0; tried < kSlotMask; ++tried) {
    const HWND hwnd = base | reg.nextSlot;
    reg.nextSlot = reg.nextSlot == kSlotMask ? 1 : reg.nextSlot + 1;
    if (reg.windows.contains(hwnd)) continue;
    reg.windows[hwnd] = Window{GetCurrentThreadId(), std::move(proc), false};
    return hwnd;
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return 0;
}

BOOL DestroyWindow(HWND hwnd) {
  auto [reg, lock] = Locked();
  Window* const w = FindWindowLocked(reg, hwnd);
  if (w == nullptr) return FALSE;
  if (w->threadId != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  ThreadQueue& queue = OwnQueueLocked(reg);  // the owner's
  std::erase_if(queue.messages, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
  std::erase_if(queue.watches, [hwnd](const Watch& watch) { return watch.hwnd == hwnd; });
  reg.windows.erase(hwnd);
  return TRUE;
}

BOOL PublishWindow(HWND hwnd) {
  // Not locked while ListenForPosts talks to the bus.
  if (FindWindowLocked(Locked().first, hwnd) == nullptr) return FALSE;
  if (!automation::ListenForPosts()) {
    SetLastError(ERROR_ACCESS_DENIED);  // no session bus to listen on
    return FALSE;
  }
  auto [reg, lock] = Locked();
  Window* const w = FindWindowLocked(reg, hwnd);
  if (w == nullptr) return FALSE;
  w->published = true;
  return TRUE;
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (hwnd == 0) return PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam);
  {
    auto [reg, lock] = Locked();
    if (reg.windows.contains(hwnd) || PidOf(hwnd) == GetCurrentProcessId()) {
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
  auto [reg, lock] = Locked();
  if (threadId == GetCurrentThreadId()) OwnQueueLocked(reg);  // made on first use
  const auto q = reg.queues.find(threadId);
  if (q == reg.queues.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return EnqueueLocked(q->second, 0, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

BOOL GetMessageA(MSG* msg, HWND hwnd, UINT min, UINT max) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  auto [reg, lock] = Locked();
  if (hwnd != 0) {
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
  auto [reg, lock] = Locked();
  ThreadQueue& queue = OwnQueueLocked(reg);
  return TakeLocked(queue, msg, hwnd, min, max, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == 0) return 0;
  auto [reg, lock] = Locked();
  const Window* const w = FindWindowLocked(reg, msg->hwnd);
  if (w == nullptr) return 0;
  const WindowProc proc = w->proc;
  lock.unlock();  // the procedure may post or destroy windows
  return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

BOOL WaitMessageTimeout(DWORD milliseconds) {
  auto [reg, lock] = Locked();
  ThreadQueue& queue = OwnQueueLocked(reg);
  const auto ready = [&queue] { return !queue.messages.empty(); };
  std::optional<Clock::time_point> deadline;
  if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  return WaitLocked(lock, queue, ready, deadline) ? TRUE : FALSE;
}

BOOL WatchDescriptor(HWND hwnd, UINT message, int fd, std::function<short()> events) {
  auto [reg, lock] = Locked();
  ThreadQueue& queue = OwnQueueLocked(reg);
  if (!queue.wake.Valid()) queue.wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!queue.wake.Valid()) {
    SetLastError(static_cast<DWORD>(errno));
    return FALSE;
  }
  std::erase_if(queue.watches,
                [&](const Watch& w) { return w.hwnd == hwnd && w.message == message; });
  queue.watches.push_back(Watch{hwnd, message, fd, std::move(events)});
  return TRUE;
}

}  // namespace veskmath::win
