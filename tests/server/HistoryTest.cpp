// The history file: line splitting, appends that keep the old bytes, refusals of planted
// links, directories and unreadable files, and appends from several writers at once.
#include "server/History.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <thread>
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

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    EXPECT_TRUE(history.Load(lines));
    return lines;
  }
};

TEST_F(HistoryFile, PathIsTheTemporaryDirectoryAndLogTxt) {
  EXPECT_EQ(HistoryFilePath(), dir.Path() + "/log.txt");
}

TEST_F(HistoryFile, MissingFileLoadsEmpty) {
  std::vector<std::string> lines = {"stale"};
  EXPECT_FALSE(history.Load(lines));
  EXPECT_TRUE(lines.empty());
}

TEST_F(HistoryFile, AppendCreatesAndKeepsDuplicatesInOrder) {
  history.Append("a:=2");
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
  history.Append("b:=3");
  history.Append("a:=2");
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\nb:=3\r\na:=2\r\n");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a:=2", "b:=3", "a:=2"}));
  // Only the history file is left: the temporary file was renamed into place.
  EXPECT_EQ(testing::DirectoryNames(dir.Path()), std::vector<std::string>{"log.txt"});
}

TEST_F(HistoryFile, AppendKeepsTheOldBytesAndEndsAnOpenLastLine) {
  WriteFile(dir.History(), "x:=1\ny:=2");
  history.Append("z:=3");
  EXPECT_EQ(ReadFile(dir.History()), "x:=1\ny:=2\r\nz:=3\r\n");
}

TEST_F(HistoryFile, AppendKeepsTheFileMode) {
  WriteFile(dir.History(), "x:=1\r\n");
  ASSERT_EQ(::chmod(dir.History().c_str(), 0640), 0);
  history.Append("y:=2");
  struct stat st {};
  ASSERT_EQ(::stat(dir.History().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(HistoryFile, ClearLeavesZeroBytes) {
  history.Clear();  // missing: created empty
  EXPECT_TRUE(Exists(dir.History()));
  EXPECT_EQ(ReadFile(dir.History()), "");
  history.Append("a:=2");
  history.Clear();
  EXPECT_EQ(ReadFile(dir.History()), "");
  EXPECT_TRUE(Lines().empty());
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

TEST_F(HistoryFile, NoTemporaryDirectoryReadsEmptyAndRefusesWrites) {
  const THistoryFile none{std::string()};
  std::vector<std::string> lines;
  EXPECT_FALSE(none.Load(lines));
  EXPECT_THROW(none.Append("a:=2"), rtl::EFCreateError);
  EXPECT_THROW(none.Clear(), rtl::EFCreateError);
}

// What stands at the history file's path instead of a regular file of this user is neither
// read nor written, and stays as it is.
TEST_F(HistoryFile, SymbolicLinkIsNeitherFollowedNorReplaced) {
  const std::string target = dir.File("target.txt");
  WriteFile(target, "secret:=1\r\n");
  ASSERT_EQ(::symlink(target.c_str(), dir.History().c_str()), 0);
  std::vector<std::string> lines;
  EXPECT_FALSE(history.Load(lines));
  try {
    history.Append("a:=2");
    ADD_FAILURE() << "wrote through the link";
  } catch (const rtl::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + dir.History() + "\". " + std::strerror(ELOOP));
  }
  EXPECT_THROW(history.Clear(), rtl::EFOpenError);
  EXPECT_EQ(ReadFile(target), "secret:=1\r\n");
  struct stat st {};
  ASSERT_EQ(::lstat(dir.History().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(HistoryFile, DanglingSymbolicLinkCreatesNothing) {
  const std::string target = dir.File("nowhere.txt");
  ASSERT_EQ(::symlink(target.c_str(), dir.History().c_str()), 0);
  EXPECT_THROW(history.Append("a:=2"), rtl::EFOpenError);
  EXPECT_FALSE(Exists(target));
}

TEST_F(HistoryFile, DirectoryInPlaceOfTheFileIsLeftAlone) {
  ASSERT_EQ(::mkdir(dir.History().c_str(), 0700), 0);
  std::vector<std::string> lines;
  EXPECT_FALSE(history.Load(lines));
  try {
    history.Append("a:=2");
    ADD_FAILURE() << "wrote into the directory";
  } catch (const rtl::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot open file \"" + dir.History() + "\". " + std::strerror(EISDIR));
  }
  EXPECT_TRUE(testing::DirectoryNames(dir.History()).empty());
}

TEST_F(HistoryFile, UnreadableFileReadsEmptyAndIsNeverReplaced) {
  WriteFile(dir.History(), "a:=2\r\n");
  ASSERT_TRUE(testing::MakeUnreadable(dir.History()));
  std::vector<std::string> lines;
  EXPECT_FALSE(history.Load(lines));
  EXPECT_TRUE(lines.empty());
  EXPECT_THROW(history.Append("b:=3"), rtl::EFOpenError);
  EXPECT_THROW(history.Clear(), rtl::EFOpenError);
  // Still the old file, with its line.
  ASSERT_EQ(::chmod(dir.History().c_str(), 0600), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir.History().c_str(), 0, 0), 0);
  }
  EXPECT_EQ(ReadFile(dir.History()), "a:=2\r\n");
}

// Writers in one process serialise on the same lock as writers in different processes
// (each takes its own open file): none of their lines may be lost.
TEST_F(HistoryFile, ConcurrentAppendsKeepEveryLine) {
  constexpr int kWriters = 4;
  constexpr int kLinesEach = 40;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([this, w] {
      const THistoryFile own(dir.History());
      for (int i = 0; i < kLinesEach; ++i) {
        own.Append("v" + std::to_string(w) + "_" + std::to_string(i) + ":=" + std::to_string(i));
      }
    });
  }
  for (std::thread& t : writers) t.join();
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(kWriters * kLinesEach));
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size());
  EXPECT_EQ(testing::DirectoryNames(dir.Path()), std::vector<std::string>{"log.txt"});
}

}  // namespace
}  // namespace veskmath::server
