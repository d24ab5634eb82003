#include "lineinput/LineInput.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace veskmath::lineinput {
namespace {

std::vector<std::string> ReadAll(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  std::string line = "stale";
  while (ReadLine(in, line)) lines.push_back(line);
  EXPECT_EQ(line, "") << "the end of input leaves the line empty";
  return lines;
}

struct LinesCase {
  const char* name;
  std::string input;
  std::vector<std::string> lines;
};

class LineInputStreamTest : public testing::TestWithParam<LinesCase> {};

TEST_P(LineInputStreamTest, SplitsLikeTheProgramsExpect) {
  EXPECT_EQ(ReadAll(GetParam().input), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    LineInput, LineInputStreamTest,
    testing::Values(LinesCase{"Empty", "", {}},
                    LinesCase{"LfLines", "1+2\nx:=5\n", {"1+2", "x:=5"}},
                    LinesCase{"CrLfLines", "1+2\r\nx:=5\r\n", {"1+2", "x:=5"}},
                    LinesCase{"LastLineWithoutEnd", "a\nb", {"a", "b"}},
                    LinesCase{"EmptyLinesKept", "\n\r\n\n", {"", "", ""}},
                    // Only the CR of a CR LF pair goes; a CR inside the line is the user's.
                    LinesCase{"OnlyOneCrDropped", "a\r\r\nb\rc\n", {"a\r", "b\rc"}},
                    LinesCase{"Utf8BytesUntouched",
                              "\xEF\xBC\x91\xEF\xBC\x8B\xEF\xBC\x92\n",
                              {"\xEF\xBC\x91\xEF\xBC\x8B\xEF\xBC\x92"}}),
    [](const testing::TestParamInfo<LinesCase>& p) { return p.param.name; });

// Standard input and output redirected to pipes, as when a script feeds a program: no
// prompt may reach the output, and the lines arrive as written.
class RedirectedStdio {
 public:
  explicit RedirectedStdio(const std::string& input) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    EXPECT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(in[1]);
    std::fflush(stdout);
    FSavedIn = ::dup(STDIN_FILENO);
    FSavedOut = ::dup(STDOUT_FILENO);
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::close(in[0]);
    ::close(out[1]);
    FOutput = out[0];
    std::clearerr(stdin);
    std::cin.clear();
  }
  ~RedirectedStdio() {
    if (FOutput < 0) return;
    Output();
    ::dup2(FSavedIn, STDIN_FILENO);
    ::close(FSavedIn);
    std::clearerr(stdin);
    std::cin.clear();
    ::close(FOutput);
  }
  bool Ok() const { return FOutput >= 0; }
  // Everything written to standard output so far; restores the real standard output.
  std::string Output() {
    if (FSavedOut >= 0) {
      std::fflush(stdout);
      ::dup2(FSavedOut, STDOUT_FILENO);
      ::close(FSavedOut);
      FSavedOut = -1;
      char buffer[256];
      for (ssize_t n; (n = ::read(FOutput, buffer, sizeof buffer)) > 0;) FText.append(buffer, n);
    }
    return FText;
  }

 private:
  int FSavedIn = -1;
  int FSavedOut = -1;
  int FOutput = -1;
  std::string FText;
};

TEST(LineInput, PipedInputReadsPlainlyWithoutPrompt) {
  RedirectedStdio stdio("1+2\r\nsin(0)\nlast");
  ASSERT_TRUE(stdio.Ok());
  EXPECT_FALSE(LineEditingActive());
  std::vector<std::string> lines;
  std::string line;
  while (ReadLine("calc> ", line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"1+2", "sin(0)", "last"}));
  EXPECT_EQ(stdio.Output(), "");
}

}  // namespace
}  // namespace veskmath::lineinput
