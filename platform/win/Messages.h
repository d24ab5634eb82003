// The message service: window handles, per-thread message queues, posting (never sending)
// to a window or a thread, and the GetMessage / PeekMessage / DispatchMessage loop calls.
//
// A window has no screen presence: it is a handle owned by the thread that made it, with an
// optional window procedure that DispatchMessageA calls, and what is posted to it goes to that
// thread's queue. A thread gets a queue when it first makes a window or asks its queue for
// messages; posting to a thread without one fails with ERROR_INVALID_THREAD_ID, and to a full
// queue (kMaxPostedMessages) with ERROR_NOT_ENOUGH_QUOTA. A thread's queue and windows end
// with it.
//
// A handle carries the id of its process (bits 9-30; bits 0-8 are a slot), so it is unique
// on the machine and fits a positive 32-bit signed integer. Another process of the user's
// session may post to a window made reachable with PublishWindow: the message goes out as a
// signal on the session bus, and the owner puts it into the window's queue when it next reads
// its connection: after each of its calls (so a message a server posts while it answers the
// owner's call is queued when that call returns), or in DeliverPostedMessages. The poster
// only knows that the signal went out; the receiver drops a message for a window that has
// been destroyed or was never published.
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
  DWORD time = 0;  // milliseconds on the monotonic clock, when posted
};

inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// As a GetMessageA / PeekMessageA filter: only thread messages (those with no window).
inline constexpr HWND HWND_THREAD_ONLY = 0xFFFFFFFFu;

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr std::size_t kMaxPostedMessages = 10000;

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Milliseconds on the monotonic clock (wraps after 49 days, like the system's tick count).
DWORD GetTickCount();

// A new window of the calling thread; 0 (ERROR_NOT_ENOUGH_MEMORY) when the process already
// has 511 windows.
HWND CreateMessageWindow(WindowProc proc = {});
// Only the owner thread may destroy a window (else ERROR_ACCESS_DENIED); messages still
// queued for it are dropped.
BOOL DestroyWindow(HWND hwnd);

// Makes a window reachable from other processes of the user (see above). FALSE when the
// window is not a window of this process or there is no session bus (GetLastError).
BOOL PublishWindow(HWND hwnd);
// Puts the messages for published windows that have arrived on the bus into their queues.
void DeliverPostedMessages();

// Puts the message into the queue of the window's owner thread and returns at once. A null
// `hwnd` posts a thread message to the calling thread. Fails (FALSE) with
// ERROR_INVALID_WINDOW_HANDLE for a handle that names no window, ERROR_NOT_ENOUGH_QUOTA
// when the queue is full.
BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Puts a thread message (no window) into the queue of a thread of this process.
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Posts WM_QUIT with the exit code to the calling thread.
void PostQuitMessage(int exitCode);

// Filters: `hwnd` 0 takes every message of the thread, HWND_THREAD_ONLY only thread
// messages, another handle only that window's messages; `min`..`max` limits the message
// number unless both are 0. WM_QUIT passes every filter, so a loop always sees it.
// GetMessageA waits for a message and removes it; it returns 0 for WM_QUIT, -1 for bad
// arguments (no MSG, or a filter window that is not the calling thread's), else 1.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT min, UINT max);
// Returns at once: TRUE with the first matching message (removed with PM_REMOVE).
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT min, UINT max, UINT removeMsg);
// Calls the window procedure of msg->hwnd; 0 for thread messages and windows without one.
LRESULT DispatchMessageA(const MSG* msg);
// Waits until the calling thread's queue holds a message or `milliseconds` pass
// (INFINITE: no limit). TRUE when a message is there.
BOOL WaitMessageTimeout(DWORD milliseconds);

// Lets the calling thread's message loop watch a descriptor, so that no other thread has to
// wait on it for this one: while `events()` asks for some (poll() flags) and no `message` for
// `hwnd` is queued yet, the waits of GetMessageA and WaitMessageTimeout also wait for the
// descriptor and, once it is ready, post `message` to `hwnd` (a window of this thread). A
// thread may keep several watches, one per (hwnd, message); a watch ends with its window, and
// UnwatchDescriptor ends all of the calling thread's. `events` is called from the waiting
// thread and must not post. FALSE (GetLastError) when the loop cannot be made to wake for posts.
BOOL WatchDescriptor(HWND hwnd, UINT message, int fd, std::function<short()> events);
void UnwatchDescriptor();

}  // namespace veskmath::win
