#include "platform/win/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/rtl/UniqueFd.h"

namespace veskmath::win {

namespace {

struct TStartReport {
  char tag;  // 'P': the program's pid follows; 'E': errno of a failed fork, chdir or exec
  int value;
};

// Only async-signal-safe calls run in the children (the caller may have threads).
[[noreturn]] void RunProgram(char* const* argv, const TStartOptions& options, int reportFd,
                             int nullFd) {
  // The report pipe kept close-on-exec above 2, /dev/null on 0 (and 1, 2 when quiet).
  const int out = ::fcntl(reportFd, F_DUPFD_CLOEXEC, 3);
  const int null = ::fcntl(nullFd, F_DUPFD, 3);
  if (out < 0 || null < 0 || ::dup2(null, 0) < 0 ||
      (options.quiet && (::dup2(null, 1) < 0 || ::dup2(null, 2) < 0))) {
    ::_exit(127);
  }
  if (out > 3) ::close_range(3, static_cast<unsigned>(out) - 1, 0);
  ::close_range(static_cast<unsigned>(out) + 1, ~0u, 0);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (options.directory.empty() || ::chdir(options.directory.c_str()) == 0) {
    if (options.searchPath) {
      ::execvp(argv[0], argv);
    } else {
      ::execv(argv[0], argv);
    }
  }
  const TStartReport r{'E', errno};
  [[maybe_unused]] const ssize_t n = ::write(out, &r, sizeof r);
  ::_exit(127);
}

}  // namespace

pid_t StartDetached(const std::vector<std::string>& args, const TStartOptions& options) {
  if (args.empty() || args.front().empty()) {
    errno = ENOENT;
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const rtl::UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!devNull.Valid()) return -1;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const rtl::UniqueFd reportIn(pipeFds[0]);
  rtl::UniqueFd reportOut(pipeFds[1]);

  // No signal handler of the caller may run in the children.
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t middle = ::fork();
  if (middle == 0) {
    ::setsid();
    const pid_t program = ::fork();
    if (program == 0) RunProgram(argv.data(), options, reportOut.Get(), devNull.Get());
    const TStartReport r = program > 0 ? TStartReport{'P', program} : TStartReport{'E', errno};
    [[maybe_unused]] const ssize_t n = ::write(reportOut.Get(), &r, sizeof r);
    ::_exit(0);
  }
  const int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  reportOut.Reset();  // the read below ends when the program's copy closes at exec
  if (middle < 0) {
    errno = forkError;
    return -1;
  }
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // The pid first, then nothing (the exec succeeded: the pipe closed) or the errno.
  pid_t program = -1;
  int error = ECHILD;
  TStartReport r{};
  for (;;) {
    const ssize_t n = ::read(reportIn.Get(), &r, sizeof r);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof r)) break;
    if (r.tag != 'P') {
      error = r.value;
      program = -1;
      break;
    }
    program = r.value;
  }
  if (program < 0) errno = error;
  return program;
}

}  // namespace veskmath::win
