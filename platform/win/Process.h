// Starting a program that nobody waits for: the server a client activates, the program the
// shell stand-in runs. The program is started through an intermediate child that makes a new
// session, forks the program and ends at once; the caller reaps that child before returning,
// so the program is owned by the init process (or a subreaper), neither the caller's end nor
// its process group reaches it, and no zombie or waiting thread is left behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace veskmath::win {

struct TStartOptions {
  // A program name without "/" is looked up in PATH; otherwise it is taken as a path.
  bool searchPath = false;
  // The program's working directory; empty keeps the caller's.
  std::string directory;
  // Standard output and error on /dev/null too; otherwise the caller's. Standard input is
  // always /dev/null: the program must not take the caller's typed input.
  bool quiet = false;
};

// Starts args[0] with the arguments `args` and the caller's environment, every signal at its
// default and none blocked, no descriptor beyond 0-2. Answers the program's pid, or -1 with
// errno (that of the failed fork, working-directory change or exec).
pid_t StartDetached(const std::vector<std::string>& args, const TStartOptions& options = {});

}  // namespace veskmath::win
