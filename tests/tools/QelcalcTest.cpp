// qelcalc run as a child process: what it says about characters that the system code page
// lacks and about an unusable code page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "server/ServerTestUtil.h"

namespace veskmath::tools {
namespace {

using server::testing::TChild;
using server::testing::TChildResult;
using server::testing::TTempDir;

struct RunCase {
  const char* name;
  const char* acp;  // VESKMATH_ACP, or nullptr for the default (CP932)
  std::vector<std::string> args;
  const char* out;
  const char* err;
  int status;
};

class Qelcalc : public ::testing::TestWithParam<RunCase> {};

TEST_P(Qelcalc, AnswersInWords) {
  const RunCase& c = GetParam();
  TTempDir dir;
  if (c.acp != nullptr) ::setenv("VESKMATH_ACP", c.acp, 1);
  const TChildResult r = TChild(VESKMATH_QELCALC_PATH, c.args, dir.Path(), "run").Wait();
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
                "error: １ two space limited variables/constants\n",
                "",
                1},
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
