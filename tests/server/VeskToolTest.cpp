// The vesk host program, run as a child process through a server the scratch bus starts: a
// session of conversions, two hosts recording definitions into one history at the same time,
// standard input, options and exit status.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ServerProcessUtil.h"
#include "server/History.h"

namespace veskmath::server {
namespace {

using testing::ReadFile;
using testing::TChild;
using testing::TChildResult;
using testing::TScratch;

class VeskTool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(scratch.Install(VESKMATH_VESKMATH_PATH)); }
  TChildResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    return testing::RunChild(VESKMATH_VESK_PATH, args, scratch.Root(),
                             "run" + std::to_string(runs++), input);
  }

  TScratch scratch;  // the children and the server inherit its TMPDIR and registry
  int runs = 0;
};

TEST_F(VeskTool, SessionOfConversionsAndCommands) {
  const TChildResult r =
      Run({"1+2=", "１＋２＝", "a:=2", "a+1", "list", "quit", "a+1", "1+=", "sin(pi/6)"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "1+2= 3\n1+2= 3\n2\n3\na:=2 \n.\nNAN\n1+= ?\n0.5\n");
  // The reason beside "?".
  EXPECT_EQ(r.Err, "vesk: 1+=: Syntax error: function or operand has too few arguments\n");
  EXPECT_TRUE(testing::Exists(scratch.History()));
  EXPECT_EQ(ReadFile(scratch.History()), "");
}

TEST_F(VeskTool, TwoHostsRecordingAtOnceKeepEveryDefinition) {
  constexpr int kEach = 60;
  std::vector<std::string> xs, ys;
  std::string xOut, yOut;
  for (int i = 0; i < kEach; ++i) {
    xs.push_back("x" + std::to_string(i) + ":=" + std::to_string(i));
    ys.push_back("y" + std::to_string(i) + ":=" + std::to_string(-i));
    xOut += std::to_string(i) + "\n";
    yOut += std::to_string(-i) + "\n";
  }
  TChild x(VESKMATH_VESK_PATH, xs, scratch.Root(), "x");
  TChild y(VESKMATH_VESK_PATH, ys, scratch.Root(), "y");
  x.CloseInput();
  y.CloseInput();
  const TChildResult rx = x.Result();
  const TChildResult ry = y.Result();
  EXPECT_EQ(rx.Status, 0) << rx.Err;
  EXPECT_EQ(ry.Status, 0) << ry.Err;
  EXPECT_EQ(rx.Out, xOut);
  EXPECT_EQ(ry.Out, yOut);

  std::vector<std::string> lines;
  ASSERT_TRUE(THistoryFile(scratch.History()).Load(lines));
  std::set<std::string> expected(xs.begin(), xs.end());
  expected.insert(ys.begin(), ys.end());
  EXPECT_EQ(lines.size(), expected.size());
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
  // Each host's own definitions stay in the order it made them.
  std::vector<std::string> xOrder;
  for (const std::string& line : lines) {
    if (line[0] == 'x') xOrder.push_back(line);
  }
  EXPECT_EQ(xOrder, xs);
  // Both hosts' variables are known to a later conversion.
  EXPECT_EQ(Run({"x59+y59"}).Out, "0\n");
}

TEST_F(VeskTool, StandardInputLines) {
  const TChildResult r = Run({}, "1+2=\r\n\nb:=3\nlist\n");
  EXPECT_EQ(r.Status, 0) << r.Err;
  // The empty line is an empty notation: nothing to evaluate yet.
  EXPECT_EQ(r.Out, "1+2= 3\n?\n3\nb:=3 \n");
}

// "exit" leaves, "help" explains; "quit" stays the plug-in's command that empties the history.
TEST_F(VeskTool, StandardInputSessionWords) {
  const TChildResult r = Run({}, "c:=1\nhelp\nquit\nlist\n Exit \n1+2=\n");
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::size_t help = r.Out.find("exit or Ctrl-D leaves.\n");
  ASSERT_NE(help, std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.substr(0, 2), "1\n");
  EXPECT_EQ(r.Out.substr(help + 23), ".\n\n");  // list after quit: no definitions
}

// The symbols an input method types for operators reach the plug-in as the ASCII ones.
TEST_F(VeskTool, TypographicOperatorsConvert) {
  const TChildResult r =
      Run({"（１＋２）×３＝", "６÷４", "5−2", "１ー２＝", "２＾３", "2≤3", "3≧4", "1≠2", "2·3"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "(1+2)*3= 9\n1.5\n3\n1-2= -1\n8\n1\n0\n1\n6\n");
}

TEST_F(VeskTool, OnlyDoubleDashArgumentsAreOptions) {
  TChildResult r = Run({"-1+2", "--", "--5"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "1\n5\n");

  r = Run({"--help"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out.rfind("usage: vesk [--]", 0), 0u) << r.Out;

  r = Run({"--version"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out.rfind("vesk ", 0), 0u) << r.Out;

  r = Run({"1+2", "--remote"});
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err.rfind("vesk: unknown option --remote\n", 0), 0u) << r.Err;
}

TEST_F(VeskTool, FailedCallGivesAnEmptyLineAndStatusOne) {
  ASSERT_EQ(::mkdir(scratch.History().c_str(), 0700), 0);  // "quit" cannot empty it
  const TChildResult r = Run({"1+2", "quit", "2*3"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "3\n\n6\n");
  EXPECT_EQ(r.Err, "vesk: VeskResult failed (0x80020009): Cannot open file \"" + scratch.History() +
                       "\". Is a directory\n");
}

}  // namespace
}  // namespace veskmath::server
