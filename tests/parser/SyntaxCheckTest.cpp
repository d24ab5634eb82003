#include <gtest/gtest.h>

#include "ParamName.h"
#include "ParserTestUtil.h"

namespace veskmath::qel {
namespace {

using testing::DecimalSeparatorScope;
using testing::TestExpression;

struct RewriteCase {
  const char* text;
  const char* words;
};
// Test logs name the case by its text ("2+3*4"), not by its bytes.
void PrintTo(const RewriteCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class SyntaxCheckRewrite : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(SyntaxCheckRewrite, RewritesInPlace) {
  TestExpression expr;
  EXPECT_EQ(expr.LexCheck(GetParam().text), GetParam().words) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SyntaxCheckRewrite,
    ::testing::Values(
        // sign runs
        RewriteCase{"-5", "op:-@ num:5"}, RewriteCase{"2*-3", "num:2 op:* op:-@ num:3"},
        RewriteCase{"sum2(1,-x)", "fn:sum2 punct:( num:1 punct:, op:-@ gen:x punct:)"},
        RewriteCase{"3-5", "num:3 op:- num:5"}, RewriteCase{"5!-3", "num:5 op:! op:- num:3"},
        RewriteCase{"--5", "op:+@ num:5"}, RewriteCase{"-+-5", "op:+@ num:5"},
        RewriteCase{"3--5", "num:3 op:- op:-@ num:5"},
        RewriteCase{"(+2)", "punct:( op:+@ num:2 punct:)"},
        // a sign after a prefix operator is unary
        RewriteCase{"not -3", "op:not op:-@ num:3"},
        RewriteCase{"2*not -3", "num:2 op:* op:not op:-@ num:3"},
        RewriteCase{"5 not -3", "num:5 op:not op:- num:3"},
        // not runs
        RewriteCase{"not not x", "gen:x"}, RewriteCase{"not not not x", "op:not gen:x"},
        RewriteCase{"(not not x)", "punct:( gen:x punct:)"},
        RewriteCase{"not not -3", "op:-@ num:3"},
        RewriteCase{"1 and not not 0", "num:1 op:and num:0"},
        // integer power: plain integer literals only
        RewriteCase{"x^2", "gen:x op:^@ num:2"}, RewriteCase{"x^2.5", "gen:x op:^ num:2.5"},
        RewriteCase{"x^pi", "gen:x op:^ num:pi"}, RewriteCase{"x^-2", "gen:x op:^ op:-@ num:2"},
        RewriteCase{"x^15e-1", "gen:x op:^ num:15e-1"}, RewriteCase{"x^2i", "gen:x op:^ num:2i"},
        RewriteCase{"x^3000000000", "gen:x op:^ num:3000000000"},
        RewriteCase{"x^$10", "gen:x op:^@ num:16"},
        RewriteCase{"x^$ffffffff", "gen:x op:^@ num:-1"},
        RewriteCase{"x^00000000003", "gen:x op:^@ num:00000000003"},
        // string comparisons, right to left
        RewriteCase{"'abc' < 'abd'", "cmp:<"},
        RewriteCase{"'a' = 'a' and 'b' in 'a,b'", "cmp:= op:and cmp:in"}),
    veskmath::tests::ReadableParamName());

TEST(SyntaxCheck, DecimalSeparatorCommaKeepsGeneralPower) {
  DecimalSeparatorScope comma(',');
  TestExpression expr;
  EXPECT_EQ(expr.LexCheck("x^2,5"), "gen:x op:^ num:2,5");
  EXPECT_EQ(expr.LexCheck("x^2"), "gen:x op:^@ num:2");
}

struct ErrorCase {
  const char* text;
  const char* message;
};
void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class SyntaxCheckError : public ::testing::TestWithParam<ErrorCase> {};

// Through the whole compile: the message is the checker's, and nothing leaks.
TEST_P(SyntaxCheckError, Rejects) {
  TestExpression expr;
  try {
    expr.Add(GetParam().text);
    FAIL() << GetParam().text << " compiled";
  } catch (const EParserException& e) {
    EXPECT_EQ(e.Message(), GetParam().message) << GetParam().text;
  }
  EXPECT_EQ(expr.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SyntaxCheckError,
    ::testing::Values(
        ErrorCase{"(1", "Unequal brackets"}, ErrorCase{"1)", "Unequal brackets"},
        ErrorCase{"2x", "2 two space limited variables/constants"},
        ErrorCase{"a b", "a two space limited variables/constants"},
        ErrorCase{"$ff 1", "255 two space limited variables/constants"},
        ErrorCase{"foo(1)", "foo is an unknown function"},
        ErrorCase{"pi(2)", "Missing operand between constant/variable and ("},
        ErrorCase{"()", "Empty brackets ()"}, ErrorCase{"twice()", "Empty brackets ()"},
        ErrorCase{"2*(", "Unequal brackets"}, ErrorCase{"(1)(2)", "Missing operand between )("},
        ErrorCase{"(1)2", "Missing operand between ) and constant/variable"},
        ErrorCase{")1(", "Missing operand between ) and constant/variable"},
        ErrorCase{"'a' + 'b'", "+ is not a valid string operand"},
        ErrorCase{"'a' 'b'", "'a' two space limited variables/constants"},
        ErrorCase{"'abc'", "'abc' is a string: strings can only be compared with strings"},
        ErrorCase{"1+'abc'", "'abc' is a string: strings can only be compared with strings"},
        ErrorCase{"x:='abc'", "'abc' is a string: strings can only be compared with strings"},
        ErrorCase{"'a'<'b'<'c'", "'a' is a string: strings can only be compared with strings"}),
    veskmath::tests::ReadableParamName());

TEST(SyntaxCheck, StringComparisonWordsAreOwnedByTheConstants) {
  TestExpression expr;
  const int32_t before = expr.FConstants.Count();
  expr.LexCheck("'a' < 'b'");
  EXPECT_EQ(expr.FConstants.Count(), before + 3);  // two strings and the comparison
}

TEST(SyntaxCheck, StringVariableComparedWithLiteral) {
  TestExpression expr;
  std::string s = "'Abc'";
  expr.DefineStringVariable("s", &s);
  expr.Add("s = 'abc'");
  EXPECT_FALSE(expr.EvaluateBool());  // the literal was lower-cased, the variable was not
  s = "abc";
  EXPECT_TRUE(expr.EvaluateBool());
  expr.Add("s in 'x,abc'");
  EXPECT_TRUE(expr.EvaluateBool());
}

}  // namespace
}  // namespace veskmath::qel
