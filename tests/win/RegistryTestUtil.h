// Helpers of the registry tests: a scratch directory, whole-file reads and writes, and a
// forked child for checks that need another process or fewer rights.
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

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Runs check in a forked child and answers what it reported: "" when it passed, else its
// failure text. With dropRights, a child running as root first becomes the user "nobody",
// so that file permissions bind it as they bind an ordinary user.
inline std::string InChild(const std::function<std::string()>& check, bool dropRights = false) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    std::string result;
    if (dropRights && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      result = "cannot switch to the user nobody";
    } else {
      try {
        result = check();
      } catch (const std::exception& e) {
        result = std::string("unexpected exception: ") + e.what();
      }
    }
    if (!result.empty()) (void)!::write(fds[1], result.data(), result.size());
    ::_exit(result.empty() ? 0 : 1);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) report.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "child did not exit normally";
  if (WEXITSTATUS(status) != 0 && report.empty()) return "child failed without a report";
  return report;
}

}  // namespace registry_test
