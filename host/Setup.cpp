#include "host/Setup.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "contract/VeskMathTypes.h"
#include "host/PluginLink.h"
#include "platform/win/Automation.h"
#include "platform/win/CodePage.h"
#include "platform/win/Registry.h"

extern char** environ;

namespace veskmath::host {

namespace {

// Runs the program with `input` on its standard input and its output discarded; its exit
// status, or -1 when it could not be started.
int RunWithInput(const std::vector<std::string>& args, const std::string& input) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[0]);
  if (spawned != 0) {
    ::close(pipeFds[1]);
    return -1;
  }
  // A short text: it fits the pipe, and a program that ended early only costs EPIPE here.
  const ssize_t written = ::write(pipeFds[1], input.data(), input.size());
  (void)written;
  ::close(pipeFds[1]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Listed() {
  try {
    return FindPlugin().has_value();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::string RegisteredServerProgram() {
  win::CLSID clsid{};
  if (win::FAILED(win::CLSIDFromProgID(win::AnsiToWide(server::kVeskMathProgID).c_str(), &clsid))) {
    return {};
  }
  return RegisteredServerProgram(clsid);
}

std::string RegisteredServerProgram(const win::CLSID& clsid) {
  std::string commandLine;
  try {
    win::TRegistry reg;
    reg.SetRootKey(win::HKEY_CLASSES_ROOT);
    if (!reg.OpenKeyReadOnly("\\CLSID\\" + win::GUIDToString(clsid) + "\\LocalServer32")) return {};
    commandLine = reg.ReadString("");
  } catch (const std::exception&) {
    return {};
  }
  // "/usr/bin/veskmath /Automation" or "\"/opt/vesk math/veskmath\" /Automation"
  if (!commandLine.empty() && commandLine.front() == '"') {
    return win::AnsiToUtf8(commandLine.substr(1, commandLine.find('"', 1) - 1));
  }
  return win::AnsiToUtf8(commandLine.substr(0, commandLine.find(' ')));
}

TSetupResult EnsurePluginInstalled(const std::string& veskmath) {
  TSetupResult result;
  if (const std::optional<std::string> failure = EnsureHostKey()) {
    result.Failure = *failure;
    return result;
  }
  const std::string registered = RegisteredServerProgram();
  if (registered.empty() || ::access(registered.c_str(), X_OK) != 0) {
    if (RunWithInput({veskmath, "/regserver"}, "") != 0) {
      result.Failure = "`" + veskmath + " /regserver` failed";
      return result;
    }
    result.Changed = true;
  }
  if (!Listed()) {
    // The dialog's own Install, as a person would choose it.
    if (RunWithInput({veskmath}, "install\nclose\n") != 0 || !Listed()) {
      result.Failure = "`" + veskmath + "` could not install the plug-in";
      return result;
    }
    result.Changed = true;
  }
  return result;
}

}  // namespace veskmath::host
