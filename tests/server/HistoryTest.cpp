// The history file: line splitting, appends that keep the old bytes, and the refusal of
// links and directories planted at its path. (Unreadable files and writers in two processes
// are tested through the conversion object and the vesk program.)
#include "server/History.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ServerTestUtil.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/UniqueFd.h"
#include "platform/win/Files.h"
#include "platform/win/TestHooks.h"

namespace veskmath::server {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TTempDir;
using testing::WriteFile;

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<std::string> lines;
};

class HistorySplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(HistorySplit, LinesEndAtCrLfCrOrLf) {
  std::vector<std::string> lines = {"left over"};
  SplitHistoryText(GetParam().text, lines);
  EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    History, HistorySplit,
    ::testing::Values(
        SplitCase{"Empty", "", {}}, SplitCase{"CrLf", "a:=2\r\nb:=3\r\n", {"a:=2", "b:=3"}},
        SplitCase{"NoFinalBreak", "a:=2\r\nb:=3", {"a:=2", "b:=3"}},
        SplitCase{"LfOnly", "a:=2\nb:=3\n", {"a:=2", "b:=3"}},
        SplitCase{"CrOnly", "a:=2\rb:=3", {"a:=2", "b:=3"}},
        SplitCase{"LfCrIsTwoBreaks", "a\n\rb", {"a", "", "b"}},
        SplitCase{"BlankLineKept", "a\r\n\r\nb\r\n", {"a", "", "b"}},
        SplitCase{"LoneBreak", "\r\n", {""}},
        SplitCase{"NulInsideALine", std::string("a\0b\r\nc", 6), {std::string("a\0b", 3), "c"}}),
    [](const ::testing::TestParamInfo<SplitCase>& p) { return p.param.name; });

class HistoryFile : public ::testing::Test {
 protected:
  TTempDir dir;
  THistoryFile history{dir.History()};
};

TEST_F(HistoryFile, AppendSavesTheWholeListWithCrLfAndClearEmpties) {
  history.Append("a:=2");  // created
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
  WriteFile(dir.History(), "x:=1\na:=2");  // as an editor may leave it
  // Left by writers killed before their rename; a file of another name form is not ours.
  WriteFile(dir.History() + ".tmp-Ab3dE9", "x:=1\r\n");
  WriteFile(dir.History() + ".tmp-keep", "mine");
  history.Append("b:=3");
  history.Append("b:=3");
  EXPECT_EQ(ReadFile(dir.History()), "x:=1\r\na:=2\r\nb:=3\r\nb:=3\r\n");
  std::vector<std::string> lines;
  EXPECT_TRUE(history.Load(lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"x:=1", "a:=2", "b:=3", "b:=3"}));
  // The temporary files were renamed into place or removed: nothing else is left.
  EXPECT_EQ(testing::DirectoryNames(dir.Path()),
            (std::vector<std::string>{"log.txt", "log.txt.tmp-keep"}));
  history.Clear();
  EXPECT_EQ(ReadFile(dir.History()), "");
}

TEST_F(HistoryFile, LineBreakInsideALineIsRefused) {
  WriteFile(dir.History(), "a:=2\r\n");
  for (const char* line : {"a:=(1\n+2)", "a:=(1\r+2)"}) {
    try {
      history.Append(line);
      ADD_FAILURE() << "appended " << line;
    } catch (const rtl::EWriteError& e) {
      EXPECT_STREQ(e.what(), "A history line cannot hold a line break");
    }
  }
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
}

// Without a temporary directory there is no history file, rather than "log.txt" in the
// working directory.
TEST_F(HistoryFile, NoPathReadsEmptyAndRefusesWrites) {
  const THistoryFile none{std::string()};
  std::vector<std::string> lines;
  EXPECT_FALSE(none.Load(lines));
  EXPECT_THROW(none.Append("a:=2"), rtl::EFCreateError);
  EXPECT_THROW(none.Clear(), rtl::EFCreateError);
}

// What stands at the path instead of a regular file is neither read nor written, and stays.
struct PlantedCase {
  const char* name;
  int error;  // of the open
};

class HistoryPlanted : public HistoryFile, public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(HistoryPlanted, IsNeitherFollowedNorReplaced) {
  const std::string target = dir.File("target.txt");
  const std::string kind = GetParam().name;
  if (kind == "Link") WriteFile(target, "secret:=1\r\n");
  if (kind == "Directory") {
    ASSERT_EQ(::mkdir(dir.History().c_str(), 0700), 0);
  } else {
    ASSERT_EQ(::symlink(target.c_str(), dir.History().c_str()), 0);
  }
  std::vector<std::string> lines;
  EXPECT_FALSE(history.Load(lines));
  try {
    history.Append("a:=2");
    ADD_FAILURE() << "wrote through the " << kind;
  } catch (const rtl::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + dir.History() + "\". " + std::strerror(GetParam().error));
  }
  EXPECT_THROW(history.Clear(), rtl::EFOpenError);
  struct stat st {};
  ASSERT_EQ(::lstat(dir.History().c_str(), &st), 0);
  EXPECT_EQ(S_ISDIR(st.st_mode), kind == "Directory");
  if (kind == "Link") {
    EXPECT_EQ(ReadFile(target), "secret:=1\r\n");
  } else if (kind == "DanglingLink") {
    EXPECT_FALSE(Exists(target));  // nothing created at the link's target
  }
}

INSTANTIATE_TEST_SUITE_P(History, HistoryPlanted,
                         ::testing::Values(PlantedCase{"Link", ELOOP},
                                           PlantedCase{"DanglingLink", ELOOP},
                                           PlantedCase{"Directory", EISDIR}),
                         [](const ::testing::TestParamInfo<PlantedCase>& p) {
                           return p.param.name;
                         });

// The history and its temporaries are the user's alone, whatever the umask, and a file others
// could open (and so lock) is made private; another user's file is refused with what to do.
TEST_F(HistoryFile, IsPrivateAndAnotherUsersFileIsRefused) {
  WriteFile(dir.History(), "a:=2\r\n");
  ASSERT_EQ(::chmod(dir.History().c_str(), 0644), 0);
  history.Append("b:=3");
  struct stat st {};
  ASSERT_EQ(::stat(dir.History().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
  ASSERT_EQ(::chown(dir.History().c_str(), 65534, 65534), 0);
  try {
    history.Append("c:=4");
    ADD_FAILURE() << "wrote another user's history";
  } catch (const rtl::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + dir.History() +
                  "\". Not a regular file of this user; remove it, or set TMPDIR to a directory "
                  "of your own");
  }
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\nb:=3\r\n");
}

// A lock someone else holds fails the writer after the lock timeout, naming the file; nothing
// is written then or later.
TEST_F(HistoryFile, HeldLockFailsTheWriterInWords) {
  WriteFile(dir.History(), "a:=2\r\n");
  const rtl::UniqueFd holder(::open(dir.History().c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.Get(), LOCK_EX), 0);
  win::SetLockTimeout(50);
  for (const bool clear : {false, true}) {
    try {
      clear ? history.Clear() : history.Append("b:=3");
      ADD_FAILURE() << "written under another's lock";
    } catch (const rtl::EFOpenError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot lock file \"" + dir.History() +
                                           "\". Another process has held it for more than 50 "
                                           "ms; try again when it has ended");
    }
  }
  win::SetLockTimeout(win::kDefaultLockTimeoutMs);
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
}

// Every conversion replays the whole history: beyond its limit it is refused with what to do
// (a gigabyte of it once made one conversion take 19 s and 2 GB), yet "quit" still empties it.
TEST_F(HistoryFile, SizeLimitRefusesReadingAndGrowingButNotEmptying) {
  const std::string line(1000, '1');
  std::string full;
  while (full.size() + line.size() + 2 <= kMaxHistoryBytes) full += line + "\r\n";
  WriteFile(dir.History(), full);
  EXPECT_THROW(history.Append("a:=" + line), rtl::EWriteError);
  EXPECT_EQ(ReadFile(dir.History()), full);
  WriteFile(dir.History(), full + line + "\r\n");
  std::vector<std::string> lines;
  try {
    history.Load(lines);
    ADD_FAILURE() << "an oversized history was read";
  } catch (const rtl::EReadError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.History()), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("type quit to empty it"), std::string::npos) << e.what();
  }
  EXPECT_THROW(history.Append("a:=2"), rtl::EReadError);
  history.Clear();
  EXPECT_EQ(ReadFile(dir.History()), "");
}

}  // namespace
}  // namespace veskmath::server
