// The C-style variant: the vocabulary after the ten replacements, values and precedences of
// the new spellings, runs of "!", assignment, and the inherited refusals.
#include "vocabulary/CStyleParser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ParamName.h"
#include "vocabulary/Vocabulary.h"

namespace veskmath::qel {
namespace {

std::map<std::string, TExprWord*> WordsOf(const TQelExpression& expr) {
  std::map<std::string, TExprWord*> words;
  for (int32_t i = 0; i < expr.WordsCount(); ++i) words[expr.Word(i)->Name()] = expr.Word(i);
  return words;
}

TEST(CStyleParser, ReplacesTenWordsAndKeepsTheRest) {
  const TCStyleParser cstyle;
  const TQelExpression base;
  // Every replacement took its name: a refused word would leave the count short.
  EXPECT_EQ(cstyle.WordsCount(), base.WordsCount());
  const auto words = WordsOf(cstyle);
  for (const char* gone : {"mod", "or", "and", "not", "<>", ":="})
    EXPECT_EQ(words.count(gone), 0u) << gone;

  struct Expected {
    const char* name;
    bool isOper;
    int32_t nArgs;
    int32_t prec;
    TVariableType type;
    TDoubleFunc routine;
  };
  const Expected expected[] = {
      {"fact", false, 1, 0, vtDouble, ops::Factorial},
      {"div", false, 2, 0, vtDouble, ops::IntDiv},
      {"perc", false, 1, 0, vtDouble, ops::Percent},
      {"%", true, 2, 30, vtDouble, ops::IntMod},
      {"||", true, 2, 70, vtBoolean, ops::Or},
      {"&&", true, 2, 70, vtBoolean, ops::And},
      {"==", true, 2, 50, vtBoolean, ops::Equal},
      {"=", true, 2, 200, vtDouble, ops::Assign},
      {"!=", true, 2, 50, vtBoolean, ops::NotEqual},
      {"!", true, 1, 60, vtBoolean, ops::Not},
      // unchanged
      {"xor", true, 2, 70, vtBoolean, ops::Xor},
      {"in", true, 2, 10, vtBoolean, ops::Equal},
      {">", true, 2, 50, vtBoolean, ops::Greater},
      {"^", true, 2, 20, vtDouble, ops::Power},
  };
  for (const Expected& e : expected) {
    ASSERT_EQ(words.count(e.name), 1u) << e.name;
    const TExprWord* w = words.at(e.name);
    EXPECT_EQ(w->GetIsOper(), e.isOper) << e.name;
    EXPECT_EQ(w->GetNFunctionArg(), e.nArgs) << e.name;
    EXPECT_EQ(w->GetOperPrec(), e.prec) << e.name;
    EXPECT_EQ(w->GetVarType(), e.type) << e.name;
    EXPECT_EQ(w->DoubleFunc(), e.routine) << e.name;
  }
}

struct ValueCase {
  const char* text;
  double value;
};
// Test logs name the case by its text ("2+3*4"), not by its bytes.
void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class CStyleValue : public ::testing::TestWithParam<std::tuple<ValueCase, bool>> {};

TEST_P(CStyleValue, Evaluates) {
  const auto& [c, optimize] = GetParam();
  TCStyleParser expr;
  expr.Optimize = optimize;
  expr.Add(c.text);
  EXPECT_EQ(expr.Evaluate(), c.value) << c.text << (optimize ? " folded" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Operators, CStyleValue,
    ::testing::Combine(
        ::testing::Values(ValueCase{"7 % 3", 1}, ValueCase{"-7 % 3", -1}, ValueCase{"div(7, 2)", 3},
                          ValueCase{"fact(5)", 120}, ValueCase{"perc(50)", 0.5},
                          ValueCase{"1 && 0", 0}, ValueCase{"1 && 1", 1}, ValueCase{"0 || 2", 1},
                          ValueCase{"!0", 1}, ValueCase{"!3", 0}, ValueCase{"2 != 3", 1},
                          ValueCase{"2 == 2", 1}, ValueCase{"2 xor 3", 0}, ValueCase{"3 in 3", 1},
                          // the base table's precedences, not C's
                          ValueCase{"!1 == 2", 1}, ValueCase{"1 || 0 && 0", 0},
                          ValueCase{"1 + 7 % 3", 2}, ValueCase{"2 * 3 % 4", 2},
                          ValueCase{"1 == 1 && 2 != 3", 1},
                          // runs of "!" collapse pairwise, like runs of "not"
                          ValueCase{"!!3", 3}, ValueCase{"!!!3", 0}, ValueCase{"(!!0)", 0},
                          ValueCase{"! ! 3", 3}, ValueCase{"!-3", 1}, ValueCase{"!!-3", -3},
                          ValueCase{"!(!3)", 1}, ValueCase{"1 && !!2", 1},
                          ValueCase{"x = 2 + 3", 5}, ValueCase{"2 * (!0)", 2},
                          ValueCase{"!0 + 1", 0}),
        ::testing::Bool()),
    veskmath::tests::ReadableParamName());

TEST(CStyleParser, AssignmentIsSeenByLaterExpressions) {
  TCStyleParser expr;
  expr.Add("x = 5");
  EXPECT_EQ(expr.Evaluate(), 5);
  expr.Add("x == 5");
  EXPECT_TRUE(expr.EvaluateBool());
  expr.Add("x = x % 3");
  EXPECT_EQ(expr.Evaluate(), 2);
}

TEST(CStyleParser, RefusalsAreTheInheritedOnes) {
  const std::pair<const char*, const char*> cases[] = {
      {"fact(i)", "Factorial: Complex argument not supported!"},
      {"i % 2", "Div: argument can not be complex!"},
      {"div(i, 2)", "Div: argument can not be complex!"},
      {"7 % 0", "Division by zero"},
      {"nan % 0", "Division by zero"},
      {"div(nan, 0)", "Division by zero"},
  };
  for (const auto& [text, message] : cases) {
    TCStyleParser expr;
    try {
      expr.Add(text);
      expr.Evaluate();
      ADD_FAILURE() << text << " was accepted";
    } catch (const rtl::Exception& e) {
      EXPECT_STREQ(e.what(), message) << text;
    }
  }
}

// "!" is the logical not only: after an operand it is the postfix form of it, not factorial.
TEST(CStyleParser, NotAfterAnOperandIsLogicalNot) {
  const std::pair<const char*, double> cases[] = {{"3!", 0},       {"0!", 1},        {"(1)!", 0},
                                                  {"fact(5)!", 0}, {"(2 == 2)!", 0}, {"1 + 3!", 0}};
  for (const bool optimize : {false, true}) {
    for (const auto& [text, value] : cases) {
      TCStyleParser expr;
      expr.Optimize = optimize;
      expr.Add(text);
      EXPECT_EQ(expr.Evaluate(), value) << text;
    }
    TCStyleParser expr;
    expr.Optimize = optimize;
    try {
      expr.Add("1 !0");
      ADD_FAILURE() << "1 !0 was accepted";
    } catch (const EParserException& e) {
      EXPECT_STREQ(e.what(), "! takes one operand only");
    }
  }
}

// The removed spellings are plain unknown names now.
TEST(CStyleParser, BaseSpellingsAreNotOperators) {
  for (const char* text : {"3 mod 2", "1 and 1", "1 or 0", "not 1", "1 <> 2", "x := 1", "50%"}) {
    TCStyleParser expr;
    EXPECT_THROW(expr.Add(text), EParserException) << text;
  }
}

}  // namespace
}  // namespace veskmath::qel
