#include "platform/win/WinTypes.h"

#include <unistd.h>

namespace veskmath::win {

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD code) { tLastError = code; }

DWORD GetCurrentThreadId() {
  // The kernel's id rather than a counter of our own: the server posts its quit message by
  // thread identifier, and ids stay meaningful across processes. Not cached, so a forked
  // child reports its own id.
  return static_cast<DWORD>(::gettid());
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

}  // namespace veskmath::win
