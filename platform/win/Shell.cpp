// ShellExecuteA over posix_spawn: no shell, no wait.
#include "platform/win/Shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// Frees the spawn attributes and file actions however the function is left.
struct TSpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  bool attrReady = false;
  bool actionsReady = false;
  ~TSpawnSetup() {
    if (attrReady) posix_spawnattr_destroy(&attr);
    if (actionsReady) posix_spawn_file_actions_destroy(&actions);
  }
};

}  // namespace

HINSTANCE ShellExecuteA(HWND /*owner*/, const char* verb, const char* file, const char* parameters,
                        const char* directory, int /*showCmd*/) {
  if (verb != nullptr && *verb != '\0' && rtl::LowerCase(verb) != "open") return SE_ERR_NOASSOC;
  if (file == nullptr || *file == '\0') return SE_ERR_FNF;
  std::vector<std::string> args = {file};
  if (parameters != nullptr) {
    // "/UnRegserver" -> {"/UnRegserver"}; "\"a b" -> refused: the quote never closes.
    const std::optional<std::vector<std::string>> split = SplitCommandLine(parameters);
    if (!split) return ERROR_BAD_FORMAT;
    args.insert(args.end(), split->begin(), split->end());
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  TSpawnSetup setup;
  if (posix_spawnattr_init(&setup.attr) != 0) return SE_ERR_OOM;
  setup.attrReady = true;
  if (posix_spawn_file_actions_init(&setup.actions) != 0) return SE_ERR_OOM;
  setup.actionsReady = true;
  // Its own session, every signal at its default and none blocked, whatever the caller set.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  posix_spawnattr_setsigdefault(&setup.attr, &all);
  posix_spawnattr_setflags(&setup.attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
  if (directory != nullptr && *directory != '\0') {
    posix_spawn_file_actions_addchdir_np(&setup.actions, directory);
  }

  pid_t pid = 0;
  const bool searchPath = std::string_view(file).find('/') == std::string_view::npos;
  const int error =
      searchPath ? posix_spawnp(&pid, file, &setup.actions, &setup.attr, argv.data(), environ)
                 : posix_spawn(&pid, file, &setup.actions, &setup.attr, argv.data(), environ);
  if (error != 0) return FromErrno(error);
  // Nobody waits for the program; this thread only keeps it from lingering as a zombie.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 42;
}

}  // namespace veskmath::win
