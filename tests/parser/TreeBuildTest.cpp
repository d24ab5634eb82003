#include <gtest/gtest.h>

#include "ParamName.h"
#include "ParserTestUtil.h"

namespace veskmath::qel {
namespace {

using testing::TestExpression;

struct ValueCase {
  const char* text;
  double value;
};
// Test logs name the case by its text ("2+3*4"), not by its bytes.
void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

// Every case runs with folding off and on and must give the same value.
class TreeBuildValue : public ::testing::TestWithParam<std::tuple<ValueCase, bool>> {};

TEST_P(TreeBuildValue, GroupsByPrecedence) {
  const auto& [c, optimize] = GetParam();
  TestExpression expr(optimize);
  expr.Add(c.text);
  EXPECT_DOUBLE_EQ(expr.Evaluate(), c.value) << c.text << (optimize ? " folded" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TreeBuildValue,
    ::testing::Combine(
        ::testing::Values(ValueCase{"2+3*4", 14}, ValueCase{"2*3+4", 10}, ValueCase{"10-4-3", 3},
                          ValueCase{"2^3^2", 64}, ValueCase{"-2^2", 4}, ValueCase{"2^-1", 0.5},
                          ValueCase{"2^3!", 64}, ValueCase{"3!^2", 36}, ValueCase{"((2+3))*4", 20},
                          ValueCase{"(2+3)*4", 20}, ValueCase{"2*(3+4)*5", 70},
                          ValueCase{"not 1<2", 0}, ValueCase{"x:=2+3", 5},
                          ValueCase{"twice(3)*2", 12}, ValueCase{"2*twice(3)", 12},
                          ValueCase{"sum2(1, sum3(2,3,4))", 10}, ValueCase{"sum2((1+2), (3))", 6},
                          ValueCase{"sum8(1,2,3,4,5,6,7,8)", 36}, ValueCase{"-twice(-2)", 4},
                          ValueCase{"twice(twice(twice(1)))", 8}, ValueCase{"200*5%", 10},
                          ValueCase{"2*3 = 6 and 1 < 2", 1}, ValueCase{"1 or 0 and 0", 0},
                          ValueCase{"not 0", 1}, ValueCase{"not -3", 1},
                          // a postfix "not" takes the words before it
                          ValueCase{"5 not", 0}, ValueCase{"0 not", 1}, ValueCase{"(1) not", 0},
                          ValueCase{"2*0 not", 1}, ValueCase{"(3! not)+2", 2},
                          ValueCase{"(-2)^00000000003", -8}, ValueCase{"(-2)^$ffffffff", -0.5}),
        ::testing::Bool()),
    veskmath::tests::ReadableParamName());

struct SizeCase {
  const char* text;
  int32_t plain;
  int32_t folded;
};
void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class TreeBuildSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(TreeBuildSize, FoldingShrinksTheList) {
  for (const bool optimize : {false, true}) {
    TestExpression expr(optimize);
    expr.Add(GetParam().text);
    EXPECT_EQ(expr.ExpressionSize(), optimize ? GetParam().folded : GetParam().plain)
        << GetParam().text << (optimize ? " folded" : "");
  }
}

INSTANTIATE_TEST_SUITE_P(Folding, TreeBuildSize,
                         ::testing::Values(SizeCase{"2*3+x", 2, 1}, SizeCase{"x", 0, 0},
                                           SizeCase{"2*3", 1, 0}, SizeCase{"x+2*3", 2, 1},
                                           SizeCase{"counter+1", 2, 2}, SizeCase{"1<2", 1, 0},
                                           SizeCase{"twice(pi/2)+x", 3, 1},
                                           SizeCase{"'a'<'b'", 1, 0}),
                         veskmath::tests::ReadableParamName());

TEST(TreeBuild, FoldedComparisonIsBoolean) {
  TestExpression expr(true);
  expr.Add("1<2");
  EXPECT_TRUE(expr.EvaluateBool());
}

TEST(TreeBuild, FoldingMakesComplexZeroImaginaryReal) {
  TestExpression plain(false);
  plain.Add("i*i");
  EXPECT_EQ(plain.EvaluateCplx().Im, 0.0);
  EXPECT_EQ(plain.EvaluateCplx().Re, -1.0);
  TestExpression folded(true);
  folded.Add("i*i+x-x");  // the folded part "i*i" becomes the real -1: x-x is NaN-free 0
  EXPECT_EQ(folded.ExpressionSize(), 2);
}

TEST(TreeBuild, VaryingFunctionIsNotFolded) {
  TestExpression expr(true);
  expr.Add("counter+1");
  const double first = expr.Evaluate();
  EXPECT_EQ(expr.Evaluate(), first + 1);
}

TEST(TreeBuild, FoldingFailureReleasesEveryNode) {
  TestExpression expr(true);
  EXPECT_THROW(expr.Add("x + 2*(7 div 0) + twice(1)"), rtl::EDivByZero);
  EXPECT_EQ(expr.Count(), 0);
  EXPECT_THROW(expr.Evaluate(), rtl::Exception);
}

struct ErrorCase {
  const char* text;
  const char* message;
};
void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class TreeBuildError : public ::testing::TestWithParam<std::tuple<ErrorCase, bool>> {};

TEST_P(TreeBuildError, Rejects) {
  const auto& [c, optimize] = GetParam();
  TestExpression expr(optimize);
  try {
    expr.Add(c.text);
    FAIL() << c.text << " compiled";
  } catch (const EParserException& e) {
    EXPECT_EQ(e.Message(), c.message) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TreeBuildError,
    ::testing::Combine(
        ::testing::Values(
            ErrorCase{"1,2", "Syntax error in expression 1,2"},
            ErrorCase{"SUM2((1,2),3)", "Syntax error in expression sum2((1,2),3)"},
            ErrorCase{"2+", "Syntax error: function or operand has too few arguments"},
            ErrorCase{"sum2(1)", "Syntax error: function or operand has too few arguments"},
            ErrorCase{"*3", "Syntax error: function or operand has too few arguments"},
            ErrorCase{"2*not 0", "Syntax error: function or operand has too few arguments"},
            ErrorCase{"twice", "Syntax error: function or operand has too few arguments"},
            // mended faults
            ErrorCase{"2 twice(x)", "twice follows an operand without an operator between them"},
            ErrorCase{"twice(x)sum2(1,2)",
                      "sum2 follows an operand without an operator between them"},
            ErrorCase{"twice x", "twice needs its arguments in brackets"},
            ErrorCase{"2+twice", "Syntax error: function or operand has too few arguments"},
            ErrorCase{"sum2(1,)", "Syntax error: empty argument"},
            ErrorCase{"sum2(,1)", "Syntax error: empty argument"},
            ErrorCase{"   ", "Syntax error: empty expression"},
            ErrorCase{"not not", "Syntax error: empty expression"},
            ErrorCase{"twice(1,2)", "twice has too many arguments"},
            ErrorCase{"sum8(1,2,3,4,5,6,7,8,9,10)", "sum8 has too many arguments"},
            // a separator where an operand belongs (it used to become a node without routine)
            ErrorCase{",", "Syntax error in expression ,"},
            ErrorCase{"1+(,)", "Syntax error in expression 1+(,)"},
            ErrorCase{"x:=,", "Syntax error in expression x:=,"},
            ErrorCase{"not ,", "Syntax error in expression not ,"},
            ErrorCase{"twice((,))", "Syntax error in expression twice((,))"},
            ErrorCase{"10%3", "% takes one operand only"},
            ErrorCase{"5!3", "! takes one operand only"},
            ErrorCase{"5 not 3", "not takes one operand only"},
            ErrorCase{"5! not 1", "not takes one operand only"},
            ErrorCase{"twice(1) counter",
                      "twice is followed by an operand without an operator between them"}),
        ::testing::Bool()),
    veskmath::tests::ReadableParamName());

TEST(TreeBuild, FailedArgumentCheckLeavesNoCurrentList) {
  TestExpression expr;
  expr.Add("1+2");
  EXPECT_THROW(expr.Add("2+"), EParserException);
  EXPECT_EQ(expr.Count(), 1);
  EXPECT_EQ(expr.GetExpressionIndex(), 0);
  try {
    expr.Evaluate();
    FAIL();
  } catch (const EParserException&) {
    FAIL() << "not the general exception";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), "No expression found!");
  }
}

TEST(TreeBuild, FailedCheckKeepsTheCurrentList) {
  TestExpression expr;
  expr.Add("1+2");
  EXPECT_THROW(expr.Add("(1"), EParserException);
  EXPECT_EQ(expr.Evaluate(), 3);
}

}  // namespace
}  // namespace veskmath::qel
