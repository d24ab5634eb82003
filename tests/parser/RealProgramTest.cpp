// The real program answers the bits the node list answers, for every routine it replaces, and
// gives way to the list when a variable it reads holds a complex value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "parser/ParserTestUtil.h"

namespace veskmath::qel::testing {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSNaN = std::numeric_limits<double>::signaling_NaN();

// Values of a, b, x: ordinary ones, then signed zeros, NaNs of both signs and a signalling
// one (which the extended arithmetic answers quiet), infinities, subnormals and extremes
// where double rounding from extended precision shows.
constexpr double kValues[][3] = {
    {1.5, 2.25, 0.6},      {-3, 0.5, -1.25},        {0.1, 0.2, 0.3},
    {-0.0, 0.0, -0.0},     {kNaN, 1, -kNaN},        {kInf, -kInf, 2},
    {4.9e-324, 1e-310, 3}, {1e308, 1e308, -1e-300}, {1 + 0x1p-52, 0x1p-53, 1 - 0x1p-53},
    {7, 2.5, 16.5},        {kSNaN, 1, -0.5},
};

bool SameBits(double p, double q) { return std::memcmp(&p, &q, sizeof p) == 0; }

class RealProgramBits : public ::testing::TestWithParam<const char*> {};

TEST_P(RealProgramBits, AnswerWhatTheListAnswers) {
  for (const bool fold : {false, true}) {
    double v[3];
    TestExpression e(fold);
    e.DefineVariable("a", &v[0]);
    e.DefineVariable("b", &v[1]);
    e.DefineVariable("x", &v[2]);
    e.Add(GetParam());
    EXPECT_EQ(e.FReal, nullptr) << "made before the second evaluation";
    e.Evaluate();
    e.Evaluate();
    ASSERT_NE(e.FReal, nullptr) << GetParam();
    for (const auto& values : kValues) {
      std::memcpy(v, values, sizeof v);
      ASSERT_TRUE(e.FReal->Holds());
      const double fast = e.FReal->Run();
      const TValueRef* list = e.EvaluateList(e.FHead);
      ASSERT_FALSE(list->IsCplx);
      EXPECT_TRUE(SameBits(fast, *list->Real))
          << GetParam() << " fold " << fold << " a=" << v[0] << " b=" << v[1] << " x=" << v[2]
          << ": " << std::hexfloat << fast << " against " << *list->Real;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, RealProgramBits,
    ::testing::Values(
        // sums: plain, product, quotient and square terms, both signs, longer than one node
        "a+b", "a-b", "a-x-b", "a*x+b*x-a*b", "x/(1+x*x)-b/a", "a^2+b^2-x^2",
        "a+b+x-a-b+x-a*b+x/a-b", "1-a*b-x*x*x", "(a+b)*(a-b)-(x-1)*(x+1)",
        // two and three terms of mixed kinds, alone and under a function
        "a*b-x", "x-a/b", "a/b+x*a", "a/x-b/a", "ln(a*b-x/a)", "sqrt(x/a)", "exp(a-b*b)",
        "a/b-x+a*x", "cos(x-a/b-b*x)",
        // products and quotients, chains longer than one node
        "a*b", "a/b", "a*b*x", "a/b*x", "a*b/x", "a*x/b*a", "a/b/x*a", "a*b*x*a*b*x*a*b*x",
        "(a+1)*(b+2)*(x+3)/(a-b)",
        // products and quotients of sums of two, on either side or both
        "(a-x)*b", "a*(b+x)", "(a+b)*(x-a)", "(a-x)/b", "a/(b-x)", "(a-x)*(b+x)+(x-1)/(a+b)",
        "sqrt((a+b)*(x-b))",
        // signs, percent, comparisons
        "-a", "-a+b", "+a-(-b)", "a%*b", "(a<b)+(a<=b)*2+(a>b)*4+(a>=b)*8+(a=b)*16+(a<>b)*32",
        // functions of operands and of sums, two-operand functions, powers
        "sin(a+b*x)", "sqrt(a*a+b*b)", "abs(a-x)/exp(b)", "tanh(a/b)", "max(a,x)-min(b,x)",
        "pythag(a, b)", "x^2.5+a^b", "x^3*a^4-b^16+x^0", "intpower(a, x)", "a^17+b^-2", "ln(2+x)",
        "sin(x)*cos(a)+tan(b)", "log10(x)+log2(a)*epx2(b)-exp(x/b)",
        // two functions and the step between them in one node
        "sin(a)*cos(x)", "exp(-a)/ln(b)", "(sin(x)+cos(a))*b", "b-(tan(a)-sqrt(x))", "x^a+a^x",
        "a^b*max(x,b)", "(x^b-b^a)/pythag(a,x)", "sin(x)*a^b",
        // two calls whose arguments are programs of their own; more nodes than one chain runs
        "sin(a+b)*cos(x/b)", "exp(sqrt(a))-ln(abs(b))",
        "sin(cos(sin(cos(sin(cos(sin(cos(sin(cos(sin(cos(sin(cos(sin(cos(sin(a+x))))))))))))))))"
        ")"));

TEST(RealProgram, GivesWayWhenAVariableTurnsComplex) {
  double x = 3;
  TestExpression e(true);
  e.DefineVariable("x", &x);
  e.Add("x*x+1");
  EXPECT_EQ(e.Evaluate(), 10);
  EXPECT_EQ(e.Evaluate(), 10);  // from here on the real program
  e.Add("x:=2i");
  e.EvaluateCplx();
  const TCplx z = e.EvaluateCplx(0);  // (2i)^2 + 1
  EXPECT_EQ(z.Re, -3);
  EXPECT_EQ(z.Im, 0);
  e.Add("x:=5");  // real again: the caller's storage
  e.EvaluateCplx();
  EXPECT_EQ(e.Evaluate(0), 26);
  EXPECT_EQ(x, 5);
}

TEST(RealProgram, ReadsAComplexBoundVariableOnceItHoldsAReal) {
  TCplx w{1, 2};
  TestExpression e(true);
  e.DefineVariableCplx("w", &w);
  e.Add("w*2-1");
  const TCplx z = e.EvaluateCplx();
  EXPECT_EQ(z.Re, 1);
  EXPECT_EQ(z.Im, 4);
  e.Add("w:=4");
  e.Evaluate();
  EXPECT_EQ(e.Evaluate(0), 7);
}

TEST(RealProgram, NotMadeForRoutinesWithoutARealForm) {
  double x = 2;
  TestExpression e(false);
  e.DefineVariable("x", &x);
  for (const char* text : {"y:=x+1", "cplx(x, 1)*2", "twice(x)+1", "if(x, 1, 2)"}) {
    e.Add(text);
    e.EvaluateCplx();
    e.EvaluateCplx();
    EXPECT_EQ(e.FReal, nullptr) << text;
  }
  e.Add("twice(x)+1");
  EXPECT_EQ(e.Evaluate(), 5);
}

}  // namespace
}  // namespace veskmath::qel::testing
