// Shared helpers of the server tests: a fresh temporary directory that TMPDIR names for the
// length of a test, file helpers, and (from the shared harness) child processes.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "../support/ChildProcess.h"

namespace veskmath::server::testing {

// Makes a private directory, points TMPDIR at it, and undoes both at the end.
class TTempDir {
 public:
  TTempDir() {
    const char* base = std::getenv("TMPDIR");
    FOldTmpDir = base ? std::optional<std::string>(base) : std::nullopt;
    std::string pattern =
        (base && *base ? std::string(base) : std::string("/tmp")) + "/vesk-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) FPath = pattern;
    ::setenv("TMPDIR", FPath.c_str(), 1);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  ~TTempDir() {
    if (FOldTmpDir) {
      ::setenv("TMPDIR", FOldTmpDir->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    std::error_code ignored;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, ignored);
  }
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }
  std::string History() const { return File("log.txt"); }

 private:
  std::string FPath;
  std::optional<std::string> FOldTmpDir;
};

using test_support::ReadFile;
using test_support::RunChild;
using test_support::TChild;
using test_support::TChildResult;
using test_support::WaitFor;
using test_support::WriteFile;

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Names in a directory, sorted.
inline std::vector<std::string> DirectoryNames(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Makes an existing file unreadable for this process: another owner when running as root
// (permissions do not stop root), no permissions otherwise.
inline bool MakeUnreadable(const std::string& path) {
  if (::geteuid() == 0) return ::chown(path.c_str(), 65534, 65534) == 0;
  return ::chmod(path.c_str(), 0) == 0;
}

}  // namespace veskmath::server::testing
