#include "platform/win/WinTypes.h"

#include <unistd.h>

namespace veskmath::win {

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD code) { tLastError = code; }

DWORD GetCurrentThreadId() {
  // Not cached, so a forked child reports its own.
  return static_cast<DWORD>(::gettid());
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

}  // namespace veskmath::win
