// Runs this test program again as a child process with one test selected and extra
// environment entries: for what only a fresh process or another process can show (settings
// read once at start-up, messages crossing a process boundary).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace veskmath::win::testing {

// The exit status of the child (0 when its test passed or skipped), or -1 when it could not
// be started or ended by a signal. `pid`, when given, receives the child's process id.
// `quiet` sends the child's output to /dev/null (for children expected to fail).
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
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace veskmath::win::testing
