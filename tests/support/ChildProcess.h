// The tests' one harness for other processes: a program run as a child with a standard
// input the test writes to and its output in files, a check run in a forked child, this test
// program run again with one test selected, and bounded waits on a condition instead of
// sleeps, so a test goes on as soon as what it waits for holds and fails only when it never
// does.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace veskmath::test_support {

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

// Polls `done` every 10 ms until it holds or `seconds` pass; answers whether it held.
inline bool WaitFor(const std::function<bool()>& done, double seconds = 15) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Drops to the user nobody when running as root (so file permissions bind the child as
// they bind an ordinary user); false when that fails.
inline bool DropToNobody() {
  return ::geteuid() != 0 ||
         (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
}

// Reaps `pid` once it ends within `seconds` (then sets it to -1): its exit status, -1 for a
// signal; nullopt while it still runs.
inline std::optional<int> WaitForExit(pid_t& pid, double seconds) {
  std::optional<int> status;
  if (pid <= 0) return status;
  WaitFor(
      [&] {
        int raw = 0;
        if (::waitpid(pid, &raw, WNOHANG) != pid) return false;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        pid = -1;
        return true;
      },
      seconds);
  return status;
}

// `body` run in a forked child, whose exit status is what it answers (125 for an exception
// or a failed switch to the user nobody); the test goes on at once. A child still running
// when the object goes is killed.
class TForkedChild {
 public:
  explicit TForkedChild(const std::function<int()>& body, bool asNobody = false) {
    FPid = ::fork();
    if (FPid != 0) return;
    int status = 125;
    try {
      if (!asNobody || DropToNobody()) status = body();
    } catch (...) {
    }
    ::_exit(status);
  }
  TForkedChild(TForkedChild&& other) noexcept : FPid(std::exchange(other.FPid, -1)) {}
  TForkedChild& operator=(TForkedChild&&) = delete;
  ~TForkedChild() { Kill(); }

  pid_t Pid() const { return FPid; }
  void Kill() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }
  std::optional<int> Wait(double seconds = 15) { return WaitForExit(FPid, seconds); }

 private:
  pid_t FPid = -1;
};

struct TChildResult {
  int Status = -1;  // exit status, -1 when it did not end normally
  std::string Out;
  std::string Err;
};

// How a child is started beyond its program and arguments.
struct TChildOptions {
  std::vector<std::string> Env;  // "NAME=value" entries that win over the inherited ones
  std::string Argv0;             // argv[0] when it is not the program's path
  rlim_t FileSizeLimit = 0;      // bytes any file the child writes may reach (a full disk); 0: none
  bool AsNobody = false;         // when running as root: the user nobody, own runtime directory
};

inline TChildOptions NobodyIf(bool asNobody) {
  TChildOptions options;
  options.AsNobody = asNobody;
  return options;
}

// A started program whose standard input is a pipe the test writes to; standard output and
// error go to "<dir>/<tag>.out" and ".err". A child still running when the object goes is
// killed.
class TChild {
 public:
  TChild(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
         const std::string& tag, bool asNobody = false)
      : TChild(program, args, dir, tag, NobodyIf(asNobody)) {}
  TChild(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
         const std::string& tag, const TChildOptions& options) {
    FOut = dir + "/" + tag + ".out";
    FErr = dir + "/" + tag + ".err";
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> text = {options.Argv0.empty() ? program : options.Argv0};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    const bool drop = options.AsNobody && ::geteuid() == 0;
    std::vector<std::string> entries(options.Env);
    if (drop) {
      const std::string runtime = dir + "/run-nobody";
      ::mkdir(runtime.c_str(), 0700);
      (void)!::chown(runtime.c_str(), 65534, 65534);
      entries.push_back("XDG_RUNTIME_DIR=" + runtime);
    }
    // Built before the fork: the child of a threaded program must not allocate. The first
    // entry of a name wins.
    std::vector<char*> envp;
    for (std::string& e : entries) envp.push_back(e.data());
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    const rlimit limit{options.FileSizeLimit, options.FileSizeLimit};
    const int out = ::open(FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FPid = ::fork();
    if (FPid == 0) {
      if (drop && !DropToNobody()) ::_exit(126);
      if (::dup2(fds[0], 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
      // SIGXFSZ keeps its default action: a program that honours the limit does not die of it.
      if (options.FileSizeLimit > 0 && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
      ::execve(program.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(fds[0]);
    ::close(out);
    ::close(err);
    FIn = fds[1];
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  ~TChild() {
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
  std::optional<int> Wait(double seconds = 15) { return WaitForExit(FPid, seconds); }
  // Ends the input, waits for the end (a minute at most) and collects the output.
  TChildResult Result(double seconds = 60) {
    CloseInput();
    TChildResult result;
    result.Status = Wait(seconds).value_or(-1);
    result.Out = Out();
    result.Err = Err();
    return result;
  }

 private:
  pid_t FPid = -1;
  int FIn = -1;
  std::string FOut;
  std::string FErr;
};

// Runs a program to its end with `input` as its standard input.
inline TChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                             const std::string& dir, const std::string& tag,
                             const std::string& input = std::string(),
                             const TChildOptions& options = {}) {
  TChild child(program, args, dir, tag, options);
  child.Type(input);
  return child.Result();
}

// Runs `check` in a forked child and answers what it reported: "" when it passed, else its
// failure text. With dropRights, a child running as root first becomes the user nobody.
inline std::string InChild(const std::function<std::string()>& check, bool dropRights = false) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    std::string result;
    if (dropRights && !DropToNobody()) {
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

// Runs this test program again with one test selected and extra environment entries, for
// what only a fresh process can show (settings read once at start-up, messages crossing a
// process boundary). The child's exit status (0 when its test passed or skipped), or -1
// when it could not be started or ended by a signal. `pid`, when given, receives the
// child's process id; `quiet` sends its output to /dev/null (for children expected to fail).
inline int RunThisTestInChild(const std::string& testName, const std::vector<std::string>& env,
                              pid_t* pid = nullptr, bool quiet = false) {
  std::string filter = "--gtest_filter=" + testName;
  std::string exe = "/proc/self/exe";
  std::vector<char*> argv = {exe.data(), filter.data(), nullptr};
  std::vector<std::string> entries(env);
  std::vector<char*> envp;
  for (std::string& e : entries) envp.push_back(e.data());
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  // posix_spawn, not fork: the test program may have threads, and the child's set-up must
  // not allocate.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t child = 0;
  const int spawned = posix_spawn(&child, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  if (pid) *pid = child;
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace veskmath::test_support
