// Basic Windows types of the platform stand-in, the per-thread last-error code, thread and
// process identifiers, and EOSError, the exception for refused operating-system services.
#pragma once

#include <cstdint>
#include <string>

#include "platform/rtl/SysUtils.h"

namespace veskmath::win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using LCID = std::uint32_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
inline constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

// The calling thread's last-error code (0 until a service sets one).
DWORD GetLastError();
void SetLastError(DWORD code);

// The kernel's identifiers: unique among the live threads and processes of the machine, so
// a thread identifier can be handed to another process.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// A refused or failed operating-system service; ErrorCode is the last-error code.
class EOSError : public rtl::Exception {
 public:
  EOSError(const std::string& message, DWORD errorCode)
      : rtl::Exception(message), FErrorCode(errorCode) {}
  DWORD ErrorCode() const { return FErrorCode; }

 private:
  DWORD FErrorCode;
};

}  // namespace veskmath::win
