// File-system services: the user's temporary directory, the executable's path, and locks on
// the user's state. Paths are byte strings, never converted to or from the ANSI code page.
#pragma once

#include <signal.h>

#include <string>

#include "platform/win/WinTypes.h"

namespace veskmath::win {

// $TMPDIR when set and not empty, else PrivateUserDirectory(), not /tmp: the user's definitions
// ("log.txt") kept there could be read or replaced by a link in a world-writable directory.
// Ends in "/". Throws EOSError (ERROR_ACCESS_DENIED, or the failing call's error) on refusal.
std::string TempPath();

// Makes `path` a private directory (0700) of the calling user when missing; refuses, leaving it
// for its owner to look at, one that is a symbolic link, not a directory, another user's or open
// to group or others. Returns it with a trailing "/"; throws EOSError naming path and reason.
std::string EnsurePrivateDirectory(const std::string& path);

// "<base>/veskmath-<uid>/", as EnsurePrivateDirectory makes it. Throws EOSError naming the
// refused path and what to do (another user may have made it first).
std::string PrivateUserDirectory(const std::string& base = "/tmp");

// The full path of the running executable (/proc/self/exe). Throws EOSError.
std::string ModuleFileName();

// How long a lock on the user's state (registry store, its folder, history file) waits for
// another holder, in ms: well inside the 30 s a caller of the server waits, so a held lock
// fails the call in words instead of timing it out (and no change is made behind its back).
inline constexpr unsigned kDefaultLockTimeoutMs = 5000;
unsigned LockTimeoutMs();

// Takes an exclusive flock() on fd within LockTimeoutMs(). Answers 0, or the errno of the
// failure: EWOULDBLOCK when another holder kept it past the deadline.
int LockExclusiveWithin(int fd);

// Keeps SIGXFSZ from the calling thread while it lives, so a write past ulimit -f fails with
// EFBIG instead of killing the process; one raised meanwhile is taken off before it ends.
class TNoFileSizeSignal {
 public:
  TNoFileSizeSignal();
  TNoFileSizeSignal(const TNoFileSizeSignal&) = delete;
  TNoFileSizeSignal& operator=(const TNoFileSizeSignal&) = delete;
  ~TNoFileSizeSignal();

 private:
  sigset_t FSet;
  sigset_t FOld;
  bool FActive = false;
};

}  // namespace veskmath::win
