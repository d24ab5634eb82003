// ShellExecuteA: starts a program as the shell does for a program file, without a command
// interpreter and without waiting for it. The parameters are one command line, split as
// SplitCommandLine (Automation.h) does. The program runs in a session of its own (a terminal's
// interrupt of the caller does not reach it), with standard input on /dev/null (it must not
// take the caller's typed input) and the caller's output, error output and environment.
#pragma once

#include <cstdint>

#include "platform/win/Messages.h"

namespace veskmath::win {

// The operating system's answer type: greater than 32 on success (the value has no other
// meaning), else one of the error numbers below.
using HINSTANCE = std::intptr_t;

inline constexpr int SW_SHOW = 5;

inline constexpr HINSTANCE SE_ERR_FNF = 2;           // the program file does not exist
inline constexpr HINSTANCE SE_ERR_PNF = 3;           // a directory on its path does not
inline constexpr HINSTANCE SE_ERR_ACCESSDENIED = 5;  // not executable, or not allowed
inline constexpr HINSTANCE SE_ERR_OOM = 8;           // no memory or no process slot
inline constexpr HINSTANCE ERROR_BAD_FORMAT = 11;    // not a program, or malformed parameters
inline constexpr HINSTANCE SE_ERR_NOASSOC = 31;      // a verb other than "open"

// `verb` is nullptr or "open"; `file` a path, or a bare name looked up in PATH; `parameters` and
// `directory` (the working directory) may be nullptr; `owner` and `showCmd` change nothing.
HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCmd);

}  // namespace veskmath::win
