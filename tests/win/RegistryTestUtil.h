// Helpers of the registry tests: a scratch directory, and from the shared harness whole-file
// reads and writes and a forked child for checks that need another process or fewer rights.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "../support/ChildProcess.h"

namespace registry_test {

// A fresh directory under the test temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string templ = std::filesystem::temp_directory_path().string() + "/vmreg-XXXXXX";
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    FPath = templ;
    // Traversable by the unprivileged user that the rights tests switch to.
    ::chmod(FPath.c_str(), 0755);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FPath, ec))
      if (entry.is_directory(ec) && !entry.is_symlink(ec)) ::chmod(entry.path().c_str(), 0755);
    ::chmod(FPath.c_str(), 0755);
    std::filesystem::remove_all(FPath, ec);
  }
  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

using veskmath::test_support::InChild;
using veskmath::test_support::ReadFile;
using veskmath::test_support::WriteFile;

}  // namespace registry_test
