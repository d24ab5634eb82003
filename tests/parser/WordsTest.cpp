#include <gtest/gtest.h>

#include <cmath>

#include "ParamName.h"
#include "ParserTestUtil.h"

namespace veskmath::qel {
namespace {

TEST(Words, NamesAreLowerCase) {
  TFunction sin("Sin", nullptr, 1);
  EXPECT_EQ(sin.Name(), "sin");
  TExprWord other("ÄBC_Z", nullptr);
  EXPECT_EQ(other.Name(), "Äbc_z");  // only A-Z change
}

TEST(Words, ConstantFlagRule) {
  struct Case {
    const char* text;
    bool isCplx;
    double re;
  };
  for (const Case& c : {Case{"2", false, 2}, Case{"2i", true, 0}, Case{"3+0i", false, 3},
                        Case{"1.5e+3i", true, 1.5}}) {
    TDoubleConstant word(c.text, c.text);
    EXPECT_EQ(word.AsPointer()->IsCplx, c.isCplx) << c.text;
    EXPECT_EQ(*word.AsPointer()->Real, c.re) << c.text;
  }
  TDoubleConstant cnan("cnan", Math387::CNAN);
  EXPECT_FALSE(cnan.AsPointer()->IsCplx);
  TDoubleConstant cinf("cinf", Math387::CINF);
  EXPECT_TRUE(cinf.AsPointer()->IsCplx);
  TDoubleConstant empty("e", "");
  EXPECT_TRUE(std::isnan(*empty.AsPointer()->Real));
  EXPECT_TRUE(std::isnan(empty.AsPointer()->Cplx->Im));
}

TEST(Words, GeneratedVariableStartsAsRealNaN) {
  TGeneratedVariable x("x");
  EXPECT_TRUE(x.GetIsVariable());
  EXPECT_TRUE(x.GetCanVary());
  EXPECT_FALSE(x.AsPointer()->IsCplx);
  EXPECT_TRUE(std::isnan(*x.AsPointer()->Real));
  EXPECT_EQ(x.GetAsString(), "");
  EXPECT_EQ(x.GetVarType(), vtDouble);
}

TEST(Words, StringValues) {
  EXPECT_EQ(TStringConstant("'abc'").GetAsString(), "abc");
  EXPECT_EQ(TStringConstant("'abc").GetAsString(), "'abc");
  EXPECT_EQ(TStringConstant("'").GetAsString(), "");
  EXPECT_EQ(TStringConstant("''").GetAsString(), "");
  EXPECT_EQ(TStringConstant("'abc'").AsPointer(), nullptr);
  std::string s = "'Quoted'";
  TStringVariable v("s", &s);
  EXPECT_EQ(v.GetAsString(), "Quoted");
  s = "plain";
  EXPECT_EQ(v.GetAsString(), "plain");
}

TEST(Words, WhatEachWordIs) {
  TLeftBracket left("(");
  TComma comma(",");
  TBooleanFunction less("<", nullptr, 2, true, 50);
  TVaryingFunction random("random", nullptr, 0);
  EXPECT_EQ(left.GetVarType(), vtLeftBracket);
  EXPECT_EQ(comma.GetVarType(), vtComma);
  EXPECT_FALSE(left.GetIsVariable());
  EXPECT_TRUE(less.GetIsOper());
  EXPECT_EQ(less.GetOperPrec(), 50);
  EXPECT_EQ(less.GetVarType(), vtBoolean);
  EXPECT_TRUE(random.GetCanVary());
  EXPECT_FALSE(random.GetIsOper());
}

TEST(Words, ArityLimit) {
  EXPECT_NO_THROW(TFunction("f8", nullptr, 8));
  try {
    TFunction f9("f9", nullptr, 9);
    FAIL();
  } catch (const EParserException& e) {
    EXPECT_EQ(e.Message(), "Too many arguments");
  }
}

struct StringCase {
  const char* oper;
  const char* a;
  const char* b;
  bool result;
};
// Test logs name the case by its operands ("ab" < "abc"), not by its bytes.
void PrintTo(const StringCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.a)) << ' ' << c.oper << ' '
      << ::testing::PrintToString(std::string(c.b));
}

class LogicalStringOper : public ::testing::TestWithParam<StringCase> {};

TEST_P(LogicalStringOper, ComparesBytes) {
  const StringCase& c = GetParam();
  std::string a = c.a, b = c.b;
  TStringVariable left("a", &a), right("b", &b);
  TLogicalStringOper op(c.oper, &left, &right);
  EXPECT_EQ(op.Evaluate(), c.result) << c.a << " " << c.oper << " " << c.b;
  EXPECT_EQ(op.GetVarType(), vtBoolean);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogicalStringOper,
    ::testing::Values(StringCase{">", "b", "abc", true}, StringCase{"<", "ab", "abc", true},
                      StringCase{"<", "B", "a", true}, StringCase{">=", "a", "a", true},
                      StringCase{"<=", "b", "a", false}, StringCase{"=", "a", "a", true},
                      StringCase{"=", "a", "A", false}, StringCase{">", "\xe0", "a", true},
                      StringCase{"in", "b", "a,b,c", true}, StringCase{"in", "b", "a, b", false},
                      StringCase{"in", "", "a,", true}, StringCase{"in", "c", "c", true},
                      StringCase{"in", "a,b", "a,b", false}),
    veskmath::tests::ReadableParamName());

TEST(Words, InvalidStringOperator) {
  TStringConstant a("'a'");
  try {
    TLogicalStringOper op("+", &a, &a);
    FAIL();
  } catch (const EParserException& e) {
    EXPECT_EQ(e.Message(), "+ is not a valid string operand");
  }
  EXPECT_THROW(TLogicalStringOper("==", &a, &a), EParserException);
}

TEST(Words, StringComparisonVariesWithItsOperands) {
  TStringConstant a("'a'");
  std::string s;
  TStringVariable v("v", &s);
  EXPECT_FALSE(TLogicalStringOper("=", &a, &a).GetCanVary());
  EXPECT_TRUE(TLogicalStringOper("=", &a, &v).GetCanVary());
}

}  // namespace
}  // namespace veskmath::qel
