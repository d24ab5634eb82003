// File-system services: the user's temporary directory, the executable's own path, and
// locks on the user's state.
//
// The temporary directory is $TMPDIR when it is set and not empty (with "/" appended when it
// lacks one), taken as the user chose it. Otherwise it is the private directory
// /tmp/veskmath-<uid>/, not /tmp itself: the converter keeps the user's definitions there
// ("log.txt"), and in a world-writable directory another user could read that file or plant a
// link in its place. The private directory is created with mode 0700 when missing, and refused
// when it is a symbolic link, not a directory, owned by another user, or open to group or
// others (a refused directory is left as it is, for its owner to look at).
//
// Paths are byte strings handed to the file system unchanged, never converted to or from the
// ANSI code page.
#pragma once

#include <signal.h>

#include <string>

#include "platform/win/WinTypes.h"

namespace veskmath::win {

// The temporary directory, ending in "/". Throws EOSError (ERROR_ACCESS_DENIED, or the
// failing call's error) when the private directory is refused or cannot be made.
std::string TempPath();

// Makes `path` a private directory of the calling user (mode 0700) when it does not exist,
// and checks it when it does (see above). Returns the path with a trailing "/". Throws
// EOSError with a message naming the path and the reason.
std::string EnsurePrivateDirectory(const std::string& path);

// The private directory "<base>/veskmath-<uid>/" (made as EnsurePrivateDirectory makes it).
// Throws EOSError naming the refused path and what to do (another user may have made it
// first).
std::string PrivateUserDirectory(const std::string& base = "/tmp");

// The full path of the running executable (/proc/self/exe). Throws EOSError.
std::string ModuleFileName();

// How long a lock on the user's state (the registry store, its folder, the history file) waits
// for another holder before the operation fails, in milliseconds: 5 s, well inside the
// 30 s a caller of the server waits for its answer, so a held lock fails the call in words
// instead of timing it out (and the change is then not made behind the caller's back).
inline constexpr unsigned kDefaultLockTimeoutMs = 5000;
unsigned LockTimeoutMs();

// Takes an exclusive flock() on fd within LockTimeoutMs(). Answers 0, or the errno of the
// failure: EWOULDBLOCK when another holder kept it past the deadline.
int LockExclusiveWithin(int fd);

// Keeps SIGXFSZ from the calling thread while it lives: a write past the file-size limit
// (ulimit -f) then fails with EFBIG, an ordinary write error, instead of killing the process.
// A SIGXFSZ raised meanwhile is taken off the thread before the old mask returns.
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
