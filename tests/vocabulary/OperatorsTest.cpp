#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ParamName.h"
#include "math/Environment.h"
#include "math/NumberText.h"
#include "parser/ParserTestUtil.h"

namespace veskmath::qel {
namespace {

using testing::TestExpression;

struct ValueCase {
  const char* text;
  const char* value;  // CplxToStr of the result
  char kind;          // 'r' or 'c' without folding; folding makes a zero imaginary part real
};
// Test logs name the case by its text ("2+3*4"), not by its bytes.
void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class OperatorValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(OperatorValues, SameValueWithAndWithoutFolding) {
  const ValueCase& c = GetParam();
  for (const bool optimize : {false, true}) {
    TestExpression expr(optimize);
    expr.Add(c.text);
    EXPECT_EQ(Math387::CplxToStr(expr.EvaluateCplx(), 0), c.value)
        << c.text << (optimize ? " folded" : "");
    const TCplx z = expr.EvaluateCplx();
    const bool foldedReal = optimize && Math387::NEqual(z.Im, 0.0);
    EXPECT_EQ(expr.ResultIsCplx(), c.kind == 'c' && !foldedReal) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, OperatorValues,
    ::testing::Values(
        ValueCase{"1+2", "3", 'r'}, ValueCase{"1+i", "1+i", 'c'}, ValueCase{"i+1", "1+i", 'c'},
        ValueCase{"i+i", "2i", 'c'}, ValueCase{"1-i", "1-i", 'c'}, ValueCase{"i-1", "-1+i", 'c'},
        ValueCase{"i-i", "0", 'c'}, ValueCase{"2*i", "2i", 'c'}, ValueCase{"i*2", "2i", 'c'},
        ValueCase{"i*i", "-1", 'c'}, ValueCase{"(1+2i)*(1-2i)", "5", 'c'},
        ValueCase{"1/i", "-i", 'c'}, ValueCase{"i/2", "0.5i", 'c'}, ValueCase{"i/i", "1", 'c'},
        ValueCase{"1/0", "INF", 'r'}, ValueCase{"-1/0", "-INF", 'r'}, ValueCase{"0/0", "NAN", 'r'},
        ValueCase{"0.1+0.2", "0.3", 'r'}, ValueCase{"1/3", "0.333333333333333", 'r'}),
    veskmath::tests::ReadableParamName());

INSTANTIATE_TEST_SUITE_P(
    SignsPercentFactorial, OperatorValues,
    ::testing::Values(ValueCase{"-i", "-i", 'c'}, ValueCase{"+i", "i", 'c'},
                      ValueCase{"--2", "2", 'r'}, ValueCase{"-(2)", "-2", 'r'},
                      ValueCase{"50%", "0.5", 'r'}, ValueCase{"200*5%", "10", 'r'},
                      ValueCase{"i%", "0.01i", 'c'}, ValueCase{"5!", "120", 'r'},
                      ValueCase{"0!", "1", 'r'}, ValueCase{"5.5!", "720", 'r'},
                      ValueCase{"2.5!", "2", 'r'}, ValueCase{"(-1)!", "NAN", 'r'},
                      ValueCase{"171!", "INF", 'r'}, ValueCase{"1e10!", "INF", 'r'},
                      ValueCase{"(-1e10)!", "NAN", 'r'}, ValueCase{"nan!", "NAN", 'r'}),
    veskmath::tests::ReadableParamName());

INSTANTIATE_TEST_SUITE_P(
    Powers, OperatorValues,
    ::testing::Values(ValueCase{"2^3", "8", 'r'}, ValueCase{"2^-1", "0.5", 'r'},
                      ValueCase{"-2^2", "4", 'r'}, ValueCase{"(-2)^2", "4", 'r'},
                      ValueCase{"(-2)^2.0", "NAN", 'r'}, ValueCase{"(-8)^(1/3)", "NAN", 'r'},
                      ValueCase{"0^2", "0", 'r'}, ValueCase{"0^0.5", "NAN", 'r'},
                      ValueCase{"2^0.5", "1.4142135623731", 'r'}, ValueCase{"4^15e-1", "8", 'r'},
                      ValueCase{"2^3000000000", "INF", 'r'}, ValueCase{"2^10", "1024", 'r'},
                      ValueCase{"i^i", "0.207879576350762", 'c'},
                      ValueCase{"2^i", "0.769238901363972+0.638961276313635i", 'c'},
                      ValueCase{"(2i)^0", "1", 'c'}, ValueCase{"(2i)^0.5", "1+i", 'c'},
                      ValueCase{"2^(0.5*2)", "2", 'r'}),
    veskmath::tests::ReadableParamName());

INSTANTIATE_TEST_SUITE_P(
    IntegerDivision, OperatorValues,
    ::testing::Values(ValueCase{"7 div 2", "3", 'r'}, ValueCase{"-7 div 2", "-3", 'r'},
                      ValueCase{"-7 mod 2", "-1", 'r'}, ValueCase{"7 mod -3", "1", 'r'},
                      ValueCase{"7.5 div 2", "4", 'r'}, ValueCase{"6.5 div 1", "6", 'r'},
                      ValueCase{"nan div 2", "NAN", 'r'}, ValueCase{"2 mod nan", "NAN", 'r'},
                      ValueCase{"1e300 div 1", "9.22337203685478E18", 'r'},
                      ValueCase{"-1e300 div -1", "9.22337203685478E18", 'r'},
                      ValueCase{"-1e300 mod -1", "0", 'r'}),
    veskmath::tests::ReadableParamName());

INSTANTIATE_TEST_SUITE_P(
    Comparisons, OperatorValues,
    ::testing::Values(
        ValueCase{"1<2", "1", 'r'}, ValueCase{"2<=2", "1", 'r'}, ValueCase{"2>2", "0", 'r'},
        ValueCase{"2>=3", "0", 'r'}, ValueCase{"2<>3", "1", 'r'}, ValueCase{"2=2", "1", 'r'},
        ValueCase{"nan=nan", "1", 'r'}, ValueCase{"nan<>nan", "0", 'r'},
        ValueCase{"nan<1", "1", 'r'}, ValueCase{"nan<=1", "1", 'r'}, ValueCase{"nan>1", "0", 'r'},
        ValueCase{"nan>=1", "0", 'r'}, ValueCase{"i=0+1i", "1", 'r'}, ValueCase{"i>1", "1", 'r'},
        ValueCase{"-i>1", "0", 'r'}, ValueCase{"2i>1", "1", 'r'}, ValueCase{"1<2i", "1", 'r'},
        ValueCase{"i>=i", "1", 'r'}, ValueCase{"i<=-i", "0", 'r'}, ValueCase{"i<>i", "0", 'r'},
        ValueCase{"3 in 3", "1", 'r'}, ValueCase{"1+2 in 3", "1", 'r'}),
    veskmath::tests::ReadableParamName());

INSTANTIATE_TEST_SUITE_P(
    Logic, OperatorValues,
    ::testing::Values(ValueCase{"-1 and 1", "0", 'r'}, ValueCase{"1 and 2", "1", 'r'},
                      ValueCase{"not 0", "1", 'r'}, ValueCase{"not -3", "1", 'r'},
                      ValueCase{"not 3", "0", 'r'}, ValueCase{"1 or 0", "1", 'r'},
                      ValueCase{"0 or 0", "0", 'r'}, ValueCase{"nan or 0", "0", 'r'},
                      ValueCase{"2 xor 3", "0", 'r'}, ValueCase{"1 xor 0", "1", 'r'},
                      ValueCase{"i and 1", "1", 'r'}, ValueCase{"not i", "0", 'r'},
                      ValueCase{"not -i", "0", 'r'}, ValueCase{"not 0i", "1", 'r'},
                      ValueCase{"not not not 0", "1", 'r'}),
    veskmath::tests::ReadableParamName());

INSTANTIATE_TEST_SUITE_P(
    ConstantsAndAssignment, OperatorValues,
    ::testing::Values(ValueCase{"PI", "3.14159265358979", 'r'}, ValueCase{"cnan", "NAN", 'r'},
                      ValueCase{"cinf", "INF+INFi", 'c'}, ValueCase{"i", "i", 'c'},
                      ValueCase{"invpi180", "57.2957795130823", 'r'},
                      ValueCase{"ln2pidiv2", "0.918938533204673", 'r'},
                      ValueCase{"x:=2i", "2i", 'c'}, ValueCase{"x:=2", "2", 'r'}),
    veskmath::tests::ReadableParamName());

struct ErrorCase {
  const char* text;
  const char* message;
  bool parser;  // an EParserException, else the general exception
};
void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class OperatorErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(OperatorErrors, Refuse) {
  const ErrorCase& c = GetParam();
  for (const bool optimize : {false, true}) {
    TestExpression expr(optimize);
    try {
      expr.Add(c.text);
      expr.Evaluate();
      FAIL() << c.text;
    } catch (const EParserException& e) {
      EXPECT_TRUE(c.parser) << c.text;
      EXPECT_EQ(e.Message(), c.message) << c.text;
    } catch (const rtl::Exception& e) {
      EXPECT_FALSE(c.parser) << c.text;
      EXPECT_EQ(e.Message(), c.message) << c.text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, OperatorErrors,
    ::testing::Values(ErrorCase{"i!", "Factorial: Complex argument not supported!", false},
                      ErrorCase{"i div 2", "Div: argument can not be complex!", false},
                      ErrorCase{"i mod 2", "Div: argument can not be complex!", false},
                      ErrorCase{"7 div i", "Div: argument can not be complex!", false},
                      ErrorCase{"7 mod (1+i)", "Div: argument can not be complex!", false},
                      ErrorCase{"7 div 0", "Division by zero", false},
                      ErrorCase{"7 mod 0.4", "Division by zero", false},
                      ErrorCase{"nan div 0", "Division by zero", false},
                      ErrorCase{"nan mod 0", "Division by zero", false},
                      ErrorCase{"unset div 0.3", "Division by zero", false},
                      ErrorCase{"10%3", "% takes one operand only", true},
                      ErrorCase{"5!3", "! takes one operand only", true},
                      ErrorCase{"2*not 0",
                                "Syntax error: function or operand has too few arguments", true}),
    veskmath::tests::ReadableParamName());

TEST(OperatorErrors, DivisionByZeroIsTheLibraryError) {
  TestExpression expr;
  expr.Add("7 div 0");
  EXPECT_THROW(expr.Evaluate(), rtl::EDivByZero);
}

TEST(OperatorAssignment, WordValueSeenByEveryExpression) {
  TestExpression expr;
  expr.Add("x:=3");
  expr.Add("x*x");
  expr.Add("x+1");
  expr.Evaluate(0);
  EXPECT_EQ(expr.Evaluate(1), 9);
  EXPECT_EQ(expr.Evaluate(2), 4);
}

TEST(Vocabulary, TablesAreWellFormed) {
  std::set<std::string> names;
  size_t rows = 0;
  for (const auto table : {FunctionsBeforeOperators(), Operators(), FunctionsAfterOperators()}) {
    for (const TFunctionRow& row : table) {
      ++rows;
      const std::string name = row.Name;
      EXPECT_EQ(rtl::LowerCase(name), name == "logN" ? "logn" : name);
      EXPECT_TRUE(names.insert(rtl::LowerCase(name)).second) << name;
      EXPECT_GE(row.NArgs, 0) << name;
      EXPECT_LE(row.NArgs, kMaxArgs) << name;
      EXPECT_NE(row.Routine, nullptr) << name;
      if (!row.IsOper) {
        EXPECT_EQ(row.Prec, 0) << name;
      }
    }
  }
  for (const TConstantRow& row : Constants()) {
    EXPECT_TRUE(names.insert(row.Name).second) << row.Name;
  }
  EXPECT_EQ(Operators().size(), 24u);
  EXPECT_EQ(Constants().size(), 25u);
  TQelExpression expr;
  EXPECT_EQ(static_cast<size_t>(expr.WordsCount()), names.size() + 3);  // brackets, separator
}

TEST(Vocabulary, OperatorRowsAsRegistered) {
  TQelExpression expr;
  struct Row {
    const char* name;
    int32_t args;
    int32_t prec;
    bool boolean;
  };
  for (const Row& r :
       {Row{"!", 1, 10, false}, Row{"in", 2, 10, true}, Row{"^@", 2, 20, false},
        Row{"mod", 2, 30, false}, Row{"-", 2, 40, false}, Row{"<>", 2, 50, true},
        Row{"not", 1, 60, true}, Row{"xor", 2, 70, true}, Row{":=", 2, 200, false}}) {
    const TExprWord* w = nullptr;
    for (int32_t k = 0; k < expr.WordsCount(); ++k)
      if (expr.Word(k)->Name() == r.name) w = expr.Word(k);
    ASSERT_NE(w, nullptr) << r.name;
    EXPECT_TRUE(w->GetIsOper()) << r.name;
    EXPECT_EQ(w->GetNFunctionArg(), r.args) << r.name;
    EXPECT_EQ(w->GetOperPrec(), r.prec) << r.name;
    EXPECT_EQ(w->GetVarType() == vtBoolean, r.boolean) << r.name;
  }
}

}  // namespace
}  // namespace veskmath::qel

namespace veskmath::qel {
namespace {

// A literal exponent ("x^3") links a routine unrolled for it; "intpower(x, n)" with n a
// variable keeps the general one. Both must give the same bits for every base, real or
// complex, finite or not.
TEST(OperatorIntPower, FixedExponentGivesTheGeneralRoutinesBits) {
  std::mt19937_64 random(20261208);
  std::vector<double> bases = {0.0,          -0.0,          1.0,       -1.0, 0.5,
                               1e-300,       -1e300,        1.0000001, 3.0,  Math387::NaN,
                               Math387::INF, -Math387::INF, 5e-324};
  std::uniform_real_distribution<double> mantissa(-2.0, 2.0);
  std::uniform_int_distribution<int> exponent(-60, 60);
  for (int k = 0; k < 400; ++k) bases.push_back(std::ldexp(mantissa(random), exponent(random)));
  const auto bits = [](double v) { return std::bit_cast<uint64_t>(v); };

  for (const bool optimize : {false, true}) {
    for (const int n : {0, 1, 2, 3, 4, 5, 7, 8, 11, 15, 16, 17, 31}) {
      double x = 0, nVar = n;
      TCplx z{0, 0};
      TestExpression expr(optimize);
      expr.DefineVariable("x", &x);
      expr.DefineVariable("n", &nVar);
      expr.DefineVariableCplx("z", &z);
      const std::string e = std::to_string(n);
      const int fixedReal = expr.Add("x^" + e);
      const int generalReal = expr.Add("intpower(x, n)");
      const int fixedCplx = expr.Add("z^" + e);
      const int generalCplx = expr.Add("intpower(z, n)");
      for (const double b : bases) {
        x = b;
        z = TCplx{b, 0.5 * b};
        EXPECT_EQ(bits(expr.Evaluate(fixedReal)), bits(expr.Evaluate(generalReal)))
            << b << "^" << n;
        const TCplx p = expr.EvaluateCplx(fixedCplx), q = expr.EvaluateCplx(generalCplx);
        EXPECT_EQ(bits(p.Re), bits(q.Re)) << "z^" << n;
        EXPECT_EQ(bits(p.Im), bits(q.Im)) << "z^" << n;
      }
    }
  }
}

// A fractional exponent is rounded when the power is evaluated, in the rounding mode of that
// moment, not when it is compiled.
TEST(OperatorIntPower, FractionalExponentRoundsAtEvaluation) {
  for (const bool optimize : {false, true}) {
    double x = 2;
    TestExpression expr(optimize);
    expr.DefineVariable("x", &x);
    expr.Add("intpower(x, 3.5)");
    EXPECT_EQ(expr.Evaluate(), 16.0);  // nearest, ties to even: 4
    const uint16_t saved = Math387::Get8087CW();
    Math387::Set8087CW(static_cast<uint16_t>(saved | 0x0C00));  // round toward zero
    const double truncated = expr.Evaluate();
    Math387::Set8087CW(saved);
    EXPECT_EQ(truncated, 8.0) << (optimize ? "folded" : "");  // 3
  }
}

// The exponent's value is fixed only when nothing else can change it: a named constant can
// be assigned, and the power must follow.
TEST(OperatorIntPower, AssignableExponentIsReadEachTime) {
  for (const bool optimize : {false, true}) {
    TestExpression expr(optimize);
    const int power = expr.Add("intpower(2, ln2)");  // ln2 rounds to 1
    EXPECT_EQ(expr.Evaluate(power), 2.0);
    expr.Add("ln2 := 3");
    expr.Evaluate();
    EXPECT_EQ(expr.Evaluate(power), optimize ? 2.0 : 8.0);  // folded once, or read now
  }
}

}  // namespace
}  // namespace veskmath::qel
