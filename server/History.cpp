// The history file: lock-free reads, locked atomic rewrites (see History.h).
#include "server/History.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/base/SysBase.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/Files.h"
#include "platform/win/WinTypes.h"

namespace veskmath::server {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

std::string Reason(int error) { return base::SystemErrorText(error); }

// Only a regular file that this user owns counts as the history file: a directory, a
// device or a pipe planted at its path, or another user's file, is neither read nor
// replaced.
bool IsOwnRegularFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// Reads from the start of fd to its end. False on a read error.
bool ReadAll(int fd, std::string& text) {
  text.clear();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) text.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    text.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Temporary files are named "<file>.tmp-XXXXXX"; one is in use only while its writer holds
// the lock on the current file.
constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempRandom = 6;

// Removes the temporary files that writers killed before their rename left beside the
// file. Called under the lock on the file now at the path, so none of them is in use; only
// this user's regular files of exactly that name form are touched.
void RemoveStaleTemporaries(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string prefix =
      (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTempInfix);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  const int dirFd = ::dirfd(d);
  while (const dirent* entry = ::readdir(d)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + kTempRandom || name.substr(0, prefix.size()) != prefix) {
      continue;
    }
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && IsOwnRegularFile(st)) {
      ::unlinkat(dirFd, entry->d_name, 0);
    }
  }
  ::closedir(d);
}

// What to do about a history file that cannot be used.
constexpr const char* kOwnDirectoryHint = "remove it, or set TMPDIR to a directory of your own";

// Opens the history file for writing and holds an exclusive lock on it, taken within the lock
// timeout: the server converts on one thread, and a lock held by anyone else must fail this
// call in words rather than hold up every client (and then store a definition whose caller
// gave up). The lock must be on the file that stands at the path now: a writer that was
// waiting while another one renamed a new file into place holds the lock of a file that is
// gone, and tries again.
rtl::UniqueFd OpenLocked(const std::string& path, struct stat& st) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    // O_NOFOLLOW: a symbolic link at the path is refused, not followed; O_NONBLOCK keeps a
    // planted pipe from blocking the open; a planted directory fails with EISDIR.
    rtl::UniqueFd fd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
      const int error = errno;
      throw rtl::EFOpenError("Cannot open file \"" + path + "\". " + Reason(error));
    }
    if (::fstat(fd.Get(), &st) != 0 || !IsOwnRegularFile(st)) {
      throw rtl::EFOpenError("Cannot open file \"" + path +
                             "\". Not a regular file of this user; " + kOwnDirectoryHint);
    }
    // The definitions are the user's alone, and a file others can open is a lock they can
    // hold: files left readable by earlier versions are made private before the lock is taken.
    if ((st.st_mode & 077) != 0 && ::fchmod(fd.Get(), 0600) != 0) {
      const int error = errno;
      throw rtl::EFOpenError("Cannot open file \"" + path +
                             "\". Cannot make it private: " + Reason(error));
    }
    if (const int error = win::LockExclusiveWithin(fd.Get()); error != 0) {
      throw rtl::EFOpenError(
          "Cannot lock file \"" + path + "\". " +
          (error == EWOULDBLOCK
               ? rtl::Format("Another process has held it for more than %u ms; try again when "
                             "it has ended",
                             win::LockTimeoutMs())
               : Reason(error)));
    }
    struct stat now {};
    if (::lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
      return fd;
    }
  }
  throw rtl::EFOpenError("Cannot lock file \"" + path + "\". It keeps being replaced");
}

[[noreturn]] void TooLarge(const std::string& path, std::size_t size) {
  throw rtl::EReadError(rtl::Format(
      "The history file \"%s\" holds %zu bytes, more than the %zu it may hold; type quit to "
      "empty it",
      path.c_str(), size, kMaxHistoryBytes));
}

}  // namespace

std::string HistoryFilePath() {
  try {
    return win::TempPath() + kHistoryFileName;
  } catch (const rtl::Exception&) {
    // No usable temporary directory: no history file at all, rather than "log.txt" in
    // whatever the working directory happens to be.
    return std::string();
  }
}

void SplitHistoryText(std::string_view text, std::vector<std::string>& lines) {
  lines.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();  // "a:=2" without a break counts
    lines.emplace_back(text.substr(start, end - start));
    // "a\r\nb" is one break; a lone "\r" or "\n" is one too.
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

bool THistoryFile::Load(std::vector<std::string>& lines) const {
  lines.clear();
  if (FPath.empty()) return false;
  rtl::UniqueFd fd(::open(FPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !IsOwnRegularFile(st)) return false;
  // A replay of more than this would take the server seconds and a great deal of memory.
  if (st.st_size > static_cast<off_t>(kMaxHistoryBytes)) {
    TooLarge(FPath, static_cast<std::size_t>(st.st_size));
  }
  std::string text;
  if (!ReadAll(fd.Get(), text)) return false;
  if (text.size() > kMaxHistoryBytes) TooLarge(FPath, text.size());
  SplitHistoryText(text, lines);
  return true;
}

template <class Edit>
void THistoryFile::Rewrite(bool readsOld, Edit&& edit) const {
  if (FPath.empty()) throw rtl::EFCreateError("No temporary directory for the history file");
  struct stat st {};
  rtl::UniqueFd locked = OpenLocked(FPath, st);

  std::string text;
  if (readsOld) {
    if (st.st_size > static_cast<off_t>(kMaxHistoryBytes)) {
      TooLarge(FPath, static_cast<std::size_t>(st.st_size));
    }
    if (!ReadAll(locked.Get(), text)) {
      const int error = errno;
      throw rtl::EReadError("Cannot read file \"" + FPath + "\". " + Reason(error));
    }
  }
  edit(text);
  if (text.size() > kMaxHistoryBytes) {
    throw rtl::EWriteError(rtl::Format(
        "The history file \"%s\" would grow beyond the %zu bytes it may hold; type quit to "
        "empty it",
        FPath.c_str(), kMaxHistoryBytes));
  }
  RemoveStaleTemporaries(FPath);

  // The new contents go to a temporary file beside the old one, reach the disk, and then
  // take its place in one rename: readers and a crash see the old file or the new one.
  const win::TNoFileSizeSignal noSignal;
  std::string temp = FPath + std::string(kTempInfix) + std::string(kTempRandom, 'X');
  rtl::UniqueFd out(::mkostemp(temp.data(), O_CLOEXEC));
  if (out.Get() < 0) {
    const int error = errno;
    throw rtl::EFCreateError("Cannot create file \"" + temp + "\". " + Reason(error));
  }
  const bool written =
      WriteAll(out.Get(), text) && ::fchmod(out.Get(), 0600) == 0 && ::fsync(out.Get()) == 0;
  const int writeError = errno;
  out.Reset();
  if (!written) {
    ::unlink(temp.c_str());
    throw rtl::EWriteError("Cannot write file \"" + temp + "\". " + Reason(writeError));
  }
  if (::rename(temp.c_str(), FPath.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    throw rtl::EFCreateError("Cannot replace file \"" + FPath + "\". " + Reason(error));
  }
}

void THistoryFile::Append(std::string_view line) const {
  // "a:=(1\n+2)" evaluates (a break is a blank to the lexer) but would be read back as the
  // two lines "a:=(1" and "+2)", and that replay would fail from then on.
  if (line.find_first_of("\r\n") != std::string_view::npos) {
    throw rtl::EWriteError("A history line cannot hold a line break");
  }
  Rewrite(true, [line](std::string& text) {
    // The whole list is saved again in the file's own form: "x:=1\na:=2" (as another
    // program may leave it) -> "x:=1\r\na:=2\r\n" + the new line and its CR LF.
    std::vector<std::string> lines;
    SplitHistoryText(text, lines);
    text.clear();
    for (const std::string& old : lines) {
      text += old;
      text += kLineBreak;
    }
    text += line;
    text += kLineBreak;
  });
}

void THistoryFile::Clear() const {
  // The old contents are not read: a file too large to read can still be emptied.
  Rewrite(false, [](std::string& text) { text.clear(); });
}

}  // namespace veskmath::server
