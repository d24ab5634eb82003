#include "platform/win/Files.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/win/TestHooks.h"

namespace veskmath::win {

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path.push_back('/');
  return path;
}

std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    default:
      return 0x20000000u | static_cast<DWORD>(error);  // customer bit: an errno value
  }
}

[[noreturn]] void Refuse(const std::string& path, const std::string& reason, DWORD code) {
  throw EOSError("Directory \"" + path + "\" refused: " + reason, code);
}

// Refuses with the failed call's errno: "cannot create it: <reason>".
[[noreturn]] void RefuseErrno(const std::string& path, const char* what) {
  const int error = errno;
  Refuse(path, what + base::SystemErrorText(error), ErrorFromErrno(error));
}

std::atomic<unsigned> gLockTimeoutMs{kDefaultLockTimeoutMs};

}  // namespace

std::string EnsurePrivateDirectory(const std::string& requested) {
  const std::string path = WithoutSlash(requested);
  if (path.empty()) Refuse(requested, "empty path", ERROR_INVALID_PARAMETER);
  if (::mkdir(path.c_str(), 0700) == 0) {
    // The umask may have taken owner bits away; it cannot have added any.
    if (::chmod(path.c_str(), 0700) != 0) RefuseErrno(path, "cannot set its mode: ");
  } else if (errno != EEXIST) {
    RefuseErrno(path, "cannot create it: ");
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) RefuseErrno(path, "cannot inspect it: ");
  if (S_ISLNK(st.st_mode)) Refuse(path, "it is a symbolic link", ERROR_ACCESS_DENIED);
  if (!S_ISDIR(st.st_mode)) Refuse(path, "it is not a directory", ERROR_ACCESS_DENIED);
  if (st.st_uid != ::geteuid()) Refuse(path, "it belongs to another user", ERROR_ACCESS_DENIED);
  if ((st.st_mode & 077) != 0) {
    Refuse(path, rtl::Format("other users have access to it (mode %04o)", st.st_mode & 07777),
           ERROR_ACCESS_DENIED);
  }
  return WithSlash(path);
}

std::string PrivateUserDirectory(const std::string& base) {
  const std::string usual =
      WithSlash(base) + "veskmath-" + std::to_string(static_cast<unsigned long>(::geteuid()));
  try {
    return EnsurePrivateDirectory(usual);
  } catch (const EOSError& refused) {
    // Anyone may make that name in a shared directory first: say what to do about it.
    throw EOSError(refused.Message() + ". Remove \"" + usual +
                       "\" (or have its owner remove it), or set TMPDIR to a directory of your own",
                   refused.ErrorCode());
  }
}

std::string TempPath() {
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir && *tmpdir) return WithSlash(tmpdir);
  return PrivateUserDirectory();
}

std::string ModuleFileName() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw EOSError("Cannot read the executable's path: " + base::SystemErrorText(error.value()),
                   ErrorFromErrno(error.value()));
  }
  return path.string();
}

unsigned LockTimeoutMs() { return gLockTimeoutMs.load(); }

void SetLockTimeout(unsigned milliseconds) { gLockTimeoutMs = milliseconds; }

int LockExclusiveWithin(int fd) {
  // flock() has no timed form: poll from every 1 ms (writers hold it briefly) up to every 20 ms.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(LockTimeoutMs());
  auto pause = std::chrono::milliseconds(1);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return error;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
  return 0;
}

TNoFileSizeSignal::TNoFileSizeSignal() {
  sigemptyset(&FSet);
  sigaddset(&FSet, SIGXFSZ);
  FActive = ::pthread_sigmask(SIG_BLOCK, &FSet, &FOld) == 0;
}

TNoFileSizeSignal::~TNoFileSizeSignal() {
  if (!FActive) return;
  if (!sigismember(&FOld, SIGXFSZ)) {
    const timespec now{0, 0};
    while (::sigtimedwait(&FSet, nullptr, &now) == SIGXFSZ) {
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
}

}  // namespace veskmath::win
