// The message service: window handles, per-thread message queues, posting (never sending),
// and the GetMessage / PeekMessage / DispatchMessage loop calls.
//
// A window has no screen presence: it is a handle owned by the thread that made it, with an
// optional window procedure; posts to it go to that thread's queue. A thread gets a queue when
// it first makes a window or reads its queue; its queue and windows end with it.
//
// A handle carries its process id (bits 9-30; bits 0-8 are a slot): unique on the machine, a
// positive 32-bit signed integer. Posts to another process's window made reachable with
// PublishWindow travel as a bus signal (the poster only knows it went out); the owner queues
// them when it next reads its connection: after each of its calls (so a server's post while
// answering is queued when the call returns).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/win/WinTypes.h"

namespace veskmath::win {

using HWND = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct MSG {
  HWND hwnd = 0;  // 0 for a thread message
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr std::size_t kMaxPostedMessages = 10000;

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// 0 (ERROR_NOT_ENOUGH_MEMORY) when the process already has 511 windows.
HWND CreateMessageWindow(WindowProc proc = {});
// Only the owner thread may destroy a window (else ERROR_ACCESS_DENIED); messages still
// queued for it are dropped.
BOOL DestroyWindow(HWND hwnd);

// Makes a window reachable from other processes of the user (see above). FALSE when the
// window is not a window of this process or there is no session bus (GetLastError).
BOOL PublishWindow(HWND hwnd);

// A null `hwnd` posts a thread message to the calling thread. FALSE with
// ERROR_INVALID_WINDOW_HANDLE for a handle that names no window, ERROR_NOT_ENOUGH_QUOTA when
// the queue holds kMaxPostedMessages.
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// To a thread of this process; ERROR_INVALID_THREAD_ID when it has no queue.
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Filters: `hwnd` 0 takes every message of the thread, another handle only that window's;
// `min`..`max` limits the message number unless both are 0. WM_QUIT passes every filter, so a loop
// always sees it. GetMessageA waits for a message and removes it; it returns 0 for WM_QUIT, -1 for
// bad arguments (no MSG, or a filter window that is not the calling thread's), else 1.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT min, UINT max);
// Returns at once: TRUE with the first matching message (removed with PM_REMOVE).
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT min, UINT max, UINT removeMsg);
// Calls the window procedure of msg->hwnd; 0 for thread messages and windows without one.
LRESULT DispatchMessageA(const MSG* msg);
// Waits at most `milliseconds` (INFINITE: no limit) for a message; TRUE when one is queued.
BOOL WaitMessageTimeout(DWORD milliseconds);

// Lets the calling thread's message loop watch a descriptor: while `events()` asks for some
// (poll() flags) and no `message` for `hwnd` is queued, GetMessageA and WaitMessageTimeout
// also wait for it and, once it is ready, post `message` to `hwnd` (a window of this thread).
// One watch per (hwnd, message); it ends with its window. `events` runs on the waiting thread
// and must not post. FALSE (GetLastError) when the loop cannot be made to wake for posts.
BOOL WatchDescriptor(HWND hwnd, UINT message, int fd, std::function<short()> events);

}  // namespace veskmath::win
