#include "platform/win/Process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ChildProcess.h"

namespace veskmath::win {
namespace {

namespace fs = std::filesystem;

TEST(StartDetached, FailuresAnswerTheErrno) {
  const fs::path dir = fs::temp_directory_path() / ("vm-start-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "plain") << "not a program\n";
  fs::permissions(dir / "plain", fs::perms::owner_read | fs::perms::owner_write);
  struct Case {
    std::vector<std::string> args;
    bool searchPath;
    std::string directory;
    int error;
  } const cases[] = {
      {{(dir / "missing").string()}, false, "", ENOENT},
      {{(dir / "plain").string()}, false, "", EACCES},
      {{"/bin/true"}, false, (dir / "no-such-dir").string(), ENOENT},
      {{"vm-no-such-program-anywhere"}, true, "", ENOENT},
      {{}, false, "", ENOENT},
  };
  for (const Case& c : cases) {
    TStartOptions options;
    options.searchPath = c.searchPath;
    options.directory = c.directory;
    errno = 0;
    EXPECT_EQ(StartDetached(c.args, options), -1) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(errno, c.error) << (c.args.empty() ? "" : c.args[0]);
  }
  fs::remove_all(dir);
}

TEST(StartDetached, TheProgramRunsWithItsArgumentsAndDirectoryAndIsNotOurChild) {
  const fs::path dir = fs::temp_directory_path() / ("vm-start-ok-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  TStartOptions options;
  options.searchPath = true;
  options.directory = dir.string();
  // stdin is /dev/null: `cat` ends at once; the file appears when the program ran.
  const pid_t pid = StartDetached(
      {"sh", "-c", "cat; echo \"$1 $(pwd)\" > out.tmp && mv out.tmp out", "sh", "a b"}, options);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(test_support::WaitFor([&] { return fs::exists(dir / "out"); }));
  std::stringstream text;
  text << std::ifstream(dir / "out").rdbuf();
  EXPECT_EQ(text.str(), "a b " + fs::canonical(dir).string() + "\n");
  // Nothing is left for us to reap: the program belongs to init (or a subreaper).
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace veskmath::win
