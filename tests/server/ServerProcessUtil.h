// Helpers of the tests that run veskmath and vesk as processes: a scratch environment (its
// own registry file, temporary directory and runtime directory, named by the environment
// that children inherit), children with a standard input the test writes to, bounded waits,
// and collecting the servers that the automation runtime starts detached.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ServerTestUtil.h"
#include "platform/win/RegistryFile.h"

namespace veskmath::server::testing {

// Polls `done` every 20 ms until it holds or `seconds` pass; answers whether it held.
inline bool WaitFor(const std::function<bool()>& done, double seconds = 15) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A scratch directory named by VESKMATH_REGISTRY, TMPDIR and XDG_RUNTIME_DIR for the length
// of a test; this process adopts the orphans of its children (the detached servers), so
// ReapOrphan can see them end.
class TScratch {
 public:
  TScratch() {
    char pattern[] = "/tmp/veskmath-e2e-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) FRoot = pattern;
    ::chmod(FRoot.c_str(), 0755);  // reachable by a child that drops its rights
    std::filesystem::create_directories(FRoot + "/tmp");
    std::filesystem::create_directories(FRoot + "/run");
    ::chmod((FRoot + "/run").c_str(), 0700);
    Set("VESKMATH_REGISTRY", Registry());
    Set("TMPDIR", FRoot + "/tmp");
    Set("XDG_RUNTIME_DIR", FRoot + "/run");
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  ~TScratch() {
    // A server a failed test left behind is ended; nothing here outlives the test.
    while (ReapOrphan(0.2, /*kill=*/true)) {
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    for (auto& [name, value] : FSaved) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    std::error_code ignored;
    std::filesystem::permissions(FRoot, std::filesystem::perms::all, ignored);
    std::filesystem::remove_all(FRoot, ignored);
  }

  const std::string& Root() const { return FRoot; }
  std::string Registry() const { return FRoot + "/registry.reg"; }
  std::string History() const { return FRoot + "/tmp/log.txt"; }

  // Waits for a child this process adopted to end (or kills it first); answers its exit
  // status, -1 for a signal, nullopt when none ended in time.
  static std::optional<int> ReapOrphan(double seconds, bool kill = false) {
    std::optional<int> status;
    WaitFor(
        [&] {
          int raw = 0;
          const pid_t pid = ::waitpid(-1, &raw, WNOHANG);
          if (pid <= 0) {
            if (kill && pid == 0) KillOwnChildren();
            return pid < 0;  // ECHILD: nobody left to wait for
          }
          status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
          return true;
        },
        seconds);
    return status;
  }

 private:
  // Ends this process's own children by their ids (from /proc), never by name.
  static void KillOwnChildren() {
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string stat = ReadFile(entry.path().string() + "/stat");
      const std::size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;
      // "<pid> (<name>) <state> <ppid> ..."
      std::size_t at = close + 2;
      at = stat.find(' ', at);
      if (at == std::string::npos) continue;
      const std::string ppid = stat.substr(at + 1, stat.find(' ', at + 1) - at - 1);
      if (ppid == self) ::kill(std::stoi(pid), SIGKILL);
    }
  }

  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  std::string FRoot;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

// A child whose standard input is a pipe the test writes to; standard output and error go
// to files. `asNobody` (when running as root) drops to the user nobody before the program
// starts, for what the root user's rights would hide (a registry it may not write).
class TPipedChild {
 public:
  TPipedChild(const std::string& program, const std::vector<std::string>& args,
              const std::string& dir, const std::string& tag, bool asNobody = false) {
    FOut = dir + "/" + tag + ".out";
    FErr = dir + "/" + tag + ".err";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> text = {program};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its own runtime directory: the scratch one is root's, and the fallback would be left
    // behind in /tmp.
    const bool drop = asNobody && ::geteuid() == 0;
    const std::string runtime = dir + "/run-nobody";
    if (drop) {
      ::mkdir(runtime.c_str(), 0700);
      (void)!::chown(runtime.c_str(), 65534, 65534);
    }
    const int out = ::open(FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FPid = ::fork();
    if (FPid == 0) {
      if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 ||
                   ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1) != 0)) {
        ::_exit(126);
      }
      if (::dup2(fds[0], 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[0]);
    ::close(out);
    ::close(err);
    FIn = fds[1];
  }
  TPipedChild(const TPipedChild&) = delete;
  TPipedChild& operator=(const TPipedChild&) = delete;
  ~TPipedChild() {
    CloseInput();
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
  }

  pid_t Pid() const { return FPid; }
  void Type(const std::string& text) {
    if (FIn >= 0) (void)!::write(FIn, text.data(), text.size());
  }
  void CloseInput() {
    if (FIn >= 0) ::close(FIn);
    FIn = -1;
  }
  std::string Out() const { return ReadFile(FOut); }
  std::string Err() const { return ReadFile(FErr); }
  // Waits until the output holds `text`.
  bool WaitForOutput(const std::string& text, double seconds = 15) const {
    return WaitFor([&] { return Out().find(text) != std::string::npos; }, seconds);
  }
  // The exit status once the child ended within `seconds`, -1 for a signal, nullopt when it
  // is still running.
  std::optional<int> Wait(double seconds = 15) {
    std::optional<int> status;
    if (FPid <= 0) return status;
    WaitFor(
        [&] {
          int raw = 0;
          if (::waitpid(FPid, &raw, WNOHANG) != FPid) return false;
          status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
          FPid = -1;
          return true;
        },
        seconds);
    return status;
  }

 private:
  pid_t FPid = -1;
  int FIn = -1;
  std::string FOut;
  std::string FErr;
};

// A value of the scratch registry (UTF-8), or nullopt.
inline std::optional<std::string> RegText(win::HKEY root, const std::string& key,
                                          const std::string& name = "") {
  win::RegistryFile file(win::RegistryFile::DefaultPath());
  const std::optional<win::RegValue> value = file.GetValue(root, key, name);
  if (!value) return std::nullopt;
  return value->kind == win::RegValue::Kind::String ? value->text : std::to_string(value->number);
}

inline bool RegKey(win::HKEY root, const std::string& key) {
  return win::RegistryFile(win::RegistryFile::DefaultPath()).KeyExists(root, key);
}

}  // namespace veskmath::server::testing
