// File-system services: the user's temporary directory, the per-user runtime directory for
// rendezvous files, and the executable's own path.
//
// The temporary directory is $TMPDIR when it is set and not empty, with "/" appended when
// it lacks one; it is taken as the user chose it. Otherwise it is a private directory
// /tmp/veskmath-<uid>/ (or a fallback, see PrivateUserDirectory), not /tmp itself: the
// converter keeps the user's definitions there ("log.txt"), and in a world-writable
// directory another user could read that file or plant a link in its place. The private directory
// is created with mode 0700 when missing, and refused when it is a symbolic link, not a directory,
// owned by another user, or open to group or others (a refused directory is left as it is, for its
// owner to look at).
//
// Paths are byte strings handed to the file system unchanged; they are not converted to or
// from the ANSI code page.
#pragma once

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
// When that name is refused (another user may have made it first), the first of
// $XDG_RUNTIME_DIR/veskmath/ (a directory of this user) and ~/.cache/veskmath/ that can be
// used instead. Throws EOSError naming the refused path and what to do when none can.
std::string PrivateUserDirectory(const std::string& base = "/tmp");

// The full path of the running executable (/proc/self/exe). Throws EOSError.
std::string ModuleFileName();

}  // namespace veskmath::win
