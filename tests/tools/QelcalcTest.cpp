// qelcalc run as a child process: what it says about characters that the system code page
// lacks and about an unusable code page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "server/ServerTestUtil.h"

namespace veskmath::tools {
namespace {

using server::testing::RunChild;
using server::testing::TChildResult;
using server::testing::TTempDir;

struct RunCase {
  const char* name;
  const char* acp;  // VESKMATH_ACP, or nullptr for the default (CP932)
  std::vector<std::string> args;
  const char* out;
  const char* err;
  int status;
  const char* input = "";  // standard input, read when there are no expressions
};

class Qelcalc : public ::testing::TestWithParam<RunCase> {};

TEST_P(Qelcalc, AnswersInWords) {
  const RunCase& c = GetParam();
  TTempDir dir;
  if (c.acp != nullptr) ::setenv("VESKMATH_ACP", c.acp, 1);
  const TChildResult r = RunChild(VESKMATH_QELCALC_PATH, c.args, dir.Path(), "run", c.input);
  ::unsetenv("VESKMATH_ACP");
  EXPECT_EQ(r.Out, c.out);
  EXPECT_EQ(r.Err, c.err);
  EXPECT_EQ(r.Status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Qelcalc,
    ::testing::Values(
        // The lexer takes the lead byte of "１" as a word: the message gives back "１".
        RunCase{"WholeCharacterInMessage",
                nullptr,
                {"１"},
                "error: １ two space limited variables/constants; names and operators are ASCII "
                "here: write pi for π, sqrt(4) for √4, 1+2 for １＋２, 2*3 for 2×3\n",
                "",
                1},
        // The engine's message as it is, then what was expected.
        RunCase{"HintAfterTwoValues",
                nullptr,
                {"2pi"},
                "error: 2 two space limited variables/constants; an operator is expected between "
                "two values: write 2*pi, not 2pi, and x*y, not x y\n",
                "",
                1},
        // Lines of standard input: a leaving word ends them, whatever follows.
        RunCase{"ExitEndsInput", nullptr, {}, "3\n", "", 0, "1+2\n Exit \n4\n"},
        RunCase{"QuitEndsInput", nullptr, {}, "3\n", "", 0, "1+2\r\nquit()\r\n4\r\n"},
        // Shift-JIS has no "é": it would be "?" inside, and "?"="?" is true.
        RunCase{"CharacterOutsideCodePage",
                nullptr,
                {"'é'='è'", "1+\U0001D465"},
                "error: the character \"é\" (U+00E9) has no form in the system code page "
                "CP932\nerror: the character \"\U0001D465\" (U+1D465) has no form in the system "
                "code page CP932\n",
                "",
                1},
        RunCase{"CharacterInsideCodePage", "CP1252", {"'é'='è'"}, "0\n", "", 0},
        RunCase{"UnknownCodePage",
                "bogus",
                {"1"},
                "",
                "qelcalc: VESKMATH_ACP=bogus: \"bogus\" is not a known code page (e.g. CP932, "
                "CP1252, UTF-8)\n",
                2}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace veskmath::tools
