#include "platform/win/Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/rtl/SysUtils.h"
#include "platform/win/Automation.h"

extern char** environ;

namespace veskmath::win {

namespace {

HINSTANCE FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return SE_ERR_FNF;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return SE_ERR_PNF;
    case EACCES:
    case EPERM:
      return SE_ERR_ACCESSDENIED;
    case ENOEXEC:
    case EISDIR:
      return ERROR_BAD_FORMAT;
    default:
      return SE_ERR_OOM;  // EAGAIN, ENOMEM: no room for another process
  }
}

// Beyond Shell.h: no descriptor but 0-2, every signal at its default and none blocked.
// posix_spawn reports a failed chdir or exec as its answer.
int Spawn(const std::vector<std::string>& args, bool searchPath, const char* directory) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (directory != nullptr) posix_spawn_file_actions_addchdir_np(&actions, directory);
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int error = (searchPath ? posix_spawnp : posix_spawn)(&pid, argv[0], &actions, &attr,
                                                              argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  // Nobody waits for the program: a thread of its own reaps it, so it leaves no zombie.
  if (error == 0) std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
  return error;
}

}  // namespace

HINSTANCE ShellExecuteA(HWND /*owner*/, const char* verb, const char* file, const char* parameters,
                        const char* directory, int /*showCmd*/) {
  if (verb != nullptr && *verb != '\0' && rtl::LowerCase(verb) != "open") return SE_ERR_NOASSOC;
  if (file == nullptr || *file == '\0') return SE_ERR_FNF;
  std::vector<std::string> args = {file};
  if (parameters != nullptr) {
    const std::optional<std::vector<std::string>> split = SplitCommandLine(parameters);
    if (!split) return ERROR_BAD_FORMAT;
    args.insert(args.end(), split->begin(), split->end());
  }
  const bool searchPath = std::string_view(file).find('/') == std::string_view::npos;
  const int error = Spawn(args, searchPath, directory);
  return error == 0 ? 42 : FromErrno(error);
}

}  // namespace veskmath::win
