// Shared helpers of the server tests: a fresh temporary directory that TMPDIR names for the
// length of a test, file helpers, and running the vesk program as a child process.
#pragma once

#include <fcntl.h>
#include <spawn.h>
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

extern char** environ;

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

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

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

struct TChildResult {
  int Status = -1;  // exit status, -1 when it did not end normally
  std::string Out;
  std::string Err;
};

// A started child with its output going to files in `dir`; Wait collects it.
class TChild {
 public:
  TChild(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
         const std::string& tag, const std::string& input = std::string()) {
    FOut = dir + "/" + tag + ".out";
    FErr = dir + "/" + tag + ".err";
    const std::string in = dir + "/" + tag + ".in";
    WriteFile(in, input);
    std::vector<std::string> argvText = {program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, FOut.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, FErr.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      FPid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  ~TChild() {
    if (FPid > 0) Wait();
  }

  TChildResult Wait() {
    TChildResult result;
    int status = 0;
    if (FPid > 0 && ::waitpid(FPid, &status, 0) == FPid && WIFEXITED(status)) {
      result.Status = WEXITSTATUS(status);
    }
    FPid = -1;
    result.Out = ReadFile(FOut);
    result.Err = ReadFile(FErr);
    return result;
  }

 private:
  pid_t FPid = -1;
  std::string FOut;
  std::string FErr;
};

}  // namespace veskmath::server::testing
