// The history file: line splitting, appends that keep the old bytes, and the refusal of
// links and directories planted at its path. (Unreadable files and writers in two processes
// are tested through the conversion object and the vesk program.)
#include "server/History.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ServerTestUtil.h"
#include "platform/rtl/SysUtils.h"

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

}  // namespace
}  // namespace veskmath::server
