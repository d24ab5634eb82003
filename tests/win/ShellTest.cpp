#include "platform/win/Shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ChildProcess.h"

namespace veskmath::win {
namespace {

namespace fs = std::filesystem;

TEST(ShellExecute, FailuresAnswerTheShellsCodes) {
  const fs::path dir = fs::temp_directory_path() / ("vm-shell-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "plain") << "not a program\n";
  fs::permissions(dir / "plain", fs::perms::owner_read | fs::perms::owner_write);
  const std::string missing = (dir / "missing").string();
  const std::string plain = (dir / "plain").string();
  const std::string noDir = (dir / "no-such-dir").string();
  struct Case {
    const char* verb;
    const char* file;
    const char* parameters;
    const char* directory;
    HINSTANCE answer;
  } const cases[] = {
      {nullptr, missing.c_str(), nullptr, nullptr, SE_ERR_FNF},
      {nullptr, plain.c_str(), nullptr, nullptr, SE_ERR_ACCESSDENIED},
      {nullptr, "/bin/true", nullptr, noDir.c_str(), SE_ERR_FNF},
      {nullptr, "vm-no-such-program-anywhere", nullptr, nullptr, SE_ERR_FNF},
      {nullptr, "", nullptr, nullptr, SE_ERR_FNF},
      {nullptr, "/bin/true", "\"unclosed", nullptr, ERROR_BAD_FORMAT},
      {"print", "/bin/true", nullptr, nullptr, SE_ERR_NOASSOC},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShellExecuteA(0, c.verb, c.file, c.parameters, c.directory, SW_SHOW), c.answer)
        << c.file;
  }
  fs::remove_all(dir);
}

TEST(ShellExecute, TheProgramRunsWithItsArgumentsAndDirectory) {
  const fs::path dir = fs::temp_directory_path() / ("vm-shell-ok-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  // stdin is /dev/null: `cat` ends at once; the file appears when the program ran.
  const HINSTANCE answer = ShellExecuteA(
      0, "open", "sh", "-c \"cat; echo \\\"$1 $(pwd)\\\" > out.tmp && mv out.tmp out\" sh \"a b\"",
      dir.c_str(), SW_SHOW);
  EXPECT_GT(answer, 32);
  EXPECT_TRUE(test_support::WaitFor([&] { return fs::exists(dir / "out"); }));
  std::stringstream text;
  text << std::ifstream(dir / "out").rdbuf();
  EXPECT_EQ(text.str(), "a b " + fs::canonical(dir).string() + "\n");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace veskmath::win
