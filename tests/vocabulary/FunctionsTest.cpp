// The function words: every word with a real and a complex argument against reference
// values, the refusals, the choices for mixed kinds and out-of-range integers, the random
// sequence. Every expression runs with folding off and on.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ParamName.h"
#include "math/TestUtil.h"
#include "parser/QelParseExpr.h"
#include "vocabulary/Vocabulary.h"

namespace veskmath::qel {
namespace {

namespace m = Math387;
using C = TCplx;

constexpr double kNaN = m::NaN;
constexpr double kInf = m::INF;

// 1 when the argument arrives complex. Varying, so that it is never folded itself while its
// argument is: that shows the one documented change folding makes, a complex value with a
// zero imaginary part folded into a real constant.
void KindOf(PExpressionRec rec) { vocab::SetReal(rec, vocab::IsCplxArg(rec, 0) ? 1.0 : 0.0); }

struct Outcome {
  TCplx value;
  bool isCplx;
};

Outcome Compute(const std::string& text, bool optimize) {
  TQelExpression expr;
  expr.Optimize = optimize;
  expr.DefineVaryingFunction("kindof", KindOf, 1);
  expr.Add(text);
  const TCplx value = expr.EvaluateCplx();
  expr.Add("kindof(" + text + ")");
  return {value, expr.Evaluate() == 1.0};
}

// Within a few units in the last place of each part, or, for a part far below the other,
// within the same relative distance of the modulus (expj(pi) has an imaginary part of 1e-16).
::testing::AssertionResult Close(const TCplx& actual, const TCplx& expected, int64_t ulps) {
  const double scale = std::hypot(expected.Re, expected.Im);
  for (const auto& [a, e] :
       {std::pair{actual.Re, expected.Re}, std::pair{actual.Im, expected.Im}}) {
    if (testutil::UlpDistance(a, e) <= ulps) continue;
    if (std::isfinite(scale) && std::fabs(a - e) <= ulps * 0x1p-52 * scale) continue;
    return ::testing::AssertionFailure()
           << "got (" << testutil::Describe(actual.Re) << ", " << testutil::Describe(actual.Im)
           << "), expected (" << testutil::Describe(expected.Re) << ", "
           << testutil::Describe(expected.Im) << ")";
  }
  return ::testing::AssertionSuccess();
}

struct FnCase {
  const char* text;
  TCplx value;
  bool isCplx;
  int64_t ulps = 2;
};

class FunctionsValue : public ::testing::TestWithParam<std::tuple<FnCase, bool>> {};

TEST_P(FunctionsValue, MatchesReference) {
  const auto& [c, optimize] = GetParam();
  const Outcome out = Compute(c.text, optimize);
  EXPECT_TRUE(Close(out.value, c.value, c.ulps)) << c.text << (optimize ? " folded" : "");
  // Folded, a complex result counts as complex only when its imaginary part is not 0.
  const bool kind = optimize ? c.isCplx && m::NNotEqual(c.value.Im, 0.0) : c.isCplx;
  EXPECT_EQ(out.isCplx, kind) << c.text << (optimize ? " folded" : "");
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<FnCase, bool>>& info) {
  std::string name;
  for (const char ch : std::string_view(std::get<0>(info.param).text))
    name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name + "_" + std::to_string(info.index) + (std::get<1>(info.param) ? "_folded" : "");
}

// Family 1, transcendental: reference values from mpmath 1.3.0 at 50 digits, evaluated at
// the double nearest to each decimal argument and rounded to 17 digits.
const FnCase kTranscendental[] = {
    {"exp(0.7)", C{2.0137527074704766, 0}, false},
    {"exp(cplx(0.3, -0.8))", C{0.94045568790956569, -0.96832943746901268}, true},
    {"sqrt(2)", C{1.4142135623730951, 0}, false},
    {"sqrt(cplx(-3, 4))", C{1, 2}, true},
    {"ln(7)", C{1.9459101490553132, 0}, false},
    {"ln(cplx(-1, 2))", C{0.80471895621705014, 2.0344439357957027}, true},
    {"log10(7)", C{0.84509804001425681, 0}, false},
    {"log10(cplx(-1, 2))", C{0.34948500216800943, 0.88354777505760729}, true},
    {"sin(0.7)", C{0.64421768723769102, 0}, false},
    {"sin(cplx(0.3, -0.8))", C{0.39523905172810525, -0.84844005099457187}, true},
    {"cos(0.7)", C{0.7648421872844885, 0}, false},
    {"cos(cplx(0.3, -0.8))", C{1.2777004060367636, 0.26245326339325831}, true},
    {"tan(0.7)", C{0.84228838046307941, 0}, false},
    {"tan(cplx(0.3, -0.8))", C{0.1659346594296767, -0.69812151554272406}, true},
    {"arcsin(0.3)", C{0.30469265401539752, 0}, false},
    {"arcsin(cplx(0.3, 0.8))", C{0.23383472957646537, 0.75004971379286223}, true},
    {"arccos(0.3)", C{1.2661036727794992, 0}, false},
    {"arccos(cplx(0.3, 0.8))", C{1.3369615972184312, -0.75004971379286223}, true},
    {"sinh(0.7)", C{0.7585837018395335, 0}, false},
    {"sinh(cplx(0.3, -0.8))", C{0.21216133157699191, -0.74987995016219489}, true},
    {"cosh(0.7)", C{1.255169005630943, 0}, false},
    {"cosh(cplx(0.3, -0.8))", C{0.72829435633257378, -0.21844948730681779}, true},
    {"tanh(0.7)", C{0.6043677771171635, 0}, false},
    {"tanh(cplx(0.3, -0.8))", C{0.55061183980739581, -0.86448435385609501}, true},
    {"arcsinh(0.7)", C{0.65266656608235574, 0}, false},
    {"arcsinh(cplx(0.3, 0.8))", C{0.42730399343896119, 0.82145372050835619}, true},
    {"arccosh(1.7)", C{1.1232309825872959, 0}, false},
    {"arccosh(cplx(1.3, 0.8))", C{1.0820259180269498, 0.65936830137623537}, true},
    {"arctanh(0.3)", C{0.3095196042031117, 0}, false},
    {"arctanh(cplx(0.3, 0.8))", C{0.18091265871333997, 0.70181065485090954}, true},
    {"epx2(0.7)", C{1.6245047927124709, 0}, false},
    {"epx2(cplx(0.3, -0.8))", C{1.0466629173087842, -0.6482386165919638}, true},
    {"exp10(0.7)", C{5.011872336272722, 0}, false},
    {"exp10(cplx(0.3, -0.8))", C{-0.53464429260484092, -1.9222973718756526}, true},
    {"log2(7)", C{2.8073549220576042, 0}, false},
    {"log2(cplx(-1, 2))", C{1.1609640474436811, 2.9350821771390851}, true},
    {"sec(0.7)", C{1.3074592597335939, 0}, false},
    {"sec(cplx(0.3, -0.8))", C{0.75097000923109858, -0.15425723330911745}, true},
    {"sech(0.7)", C{0.79670545999287501, 0}, false},
    {"sech(cplx(0.3, -0.8))", C{1.2597352994025852, 0.37785344332825116}, true},
    {"arcsec(1.7)", C{0.94192140129984481, 0}, false},
    {"arcsec(cplx(1.3, 0.8))", C{1.0265251137873375, 0.39127844341550383}, true},
    {"arcsech(0.3)", C{1.8738202425274144, 0}, false},
    // Below the real axis: above it the library's i(pi/2 - arcsin(1/z)) takes the other branch.
    {"arcsech(cplx(0.3, -0.8))", C{0.97603732075918448, 1.2961614064407101}, true},
    {"csc(0.7)", C{1.5522703269571041, 0}, false},
    {"csc(cplx(0.3, -0.8))", C{0.45115295066377159, 0.96846764203564373}, true},
    {"csch(0.7)", C{1.3182460914662972, 0}, false},
    {"csch(cplx(0.3, -0.8))", C{0.34933315258999081, 1.2347109867149471}, true},
    {"arcsc(1.7)", C{0.62887492549505175, 0}, false},
    {"arcsc(cplx(1.3, 0.8))", C{0.54427121300755921, -0.39127844341550383}, true},
    {"arccsch(0.7)", C{1.1544773942370685, 0}, false},
    {"arccsch(cplx(0.3, 0.8))", C{0.73050744347882346, -1.0292280671464529}, true},
    {"cot(0.7)", C{1.1872418321266796, 0}, false},
    {"cot(cplx(0.3, -0.8))", C{0.32226081510475635, 1.3558180636536135}, true},
    {"coth(0.7)", C{1.6546216358026296, 0}, false},
    {"coth(cplx(0.3, -0.8))", C{0.5241393455311314, 0.82292139524376162}, true},
    {"arccot(0.7)", C{0.96007036240568799, 0}, false},
    {"arccot(cplx(0.3, 0.8))", C{0.99682512646391863, -0.81079828312972679}, true},
    {"arccoth(1.7)", C{0.67496335847450795, 0}, false},
    {"arccoth(cplx(1.3, 0.8))", C{0.5236837394623336, -0.43864440960375484}, true},
    {"gamma(4.5)", C{11.631728396567448, 0}, false},
    // The complex gamma functions use a Stirling series: about 15 and 14 digits here.
    {"gamma(cplx(2.5, 0.5))", C{1.1723958284848564, 0.43650708518475606}, true, 16},
    {"lngamma(4.5)", C{2.4537365708424423, 0}, false},
    {"lngamma(cplx(2.5, 0.5))", C{0.223959018466728, 0.35641951567203978}, true, 64},

    // the mixed library forms and the promotions of the two-argument words (mpmath, as above)
    {"logN(2, 8)", C{3, 0}, false},
    {"logN(10, 0.001)", C{-3, 0}, false},
    {"logN(cplx(2, 1), 8)", C{1.9400407186226505, -1.1177756328521036}, true},
    {"logN(2, cplx(3, 4))", C{2.3219280948873622, 1.3378042124509761}, true},
    {"logN(cplx(2, 1), cplx(3, 4))", C{2, 0}, true},
    {"pythag(cplx(1, 1), 2)", C{2.0581710272714924, 0.48586827175664565}, true},
    {"power(2, 0.5)", C{1.4142135623730951, 0}, false},
    {"pow(cplx(1, 1), 0.5)", C{1.09868411346781, 0.45508986056222733}, true},
    {"pow(2, i)", C{0.76923890136397211, 0.63896127631363475}, true},
    {"expj(0.5)", C{0.87758256189037276, 0.47942553860420301}, true},
    {"expj(pi)", C{-1, 1.2246467991473532e-16}, true},
    {"polartocart(cplx(2, 0.5))", C{1.7551651237807455, 0.95885107720840601}, true},
    {"cartopolar(cplx(3, 4))", C{5, 0.92729521800161219}, true},
    {"radtodeg(1)", C{57.295779513082323, 0}, false},
    {"degtorad(180)", C{m::PI, 0}, false},
    {"arctan2(1, 0)", C{m::PIDIV2, 0}, false},
    {"arctan2(0, -1)", C{m::PI, 0}, false},
    {"arctan2(-1, -1)", C{-2.3561944901923448, 0}, false},
};
INSTANTIATE_TEST_SUITE_P(Transcendental, FunctionsValue,
                         ::testing::Combine(::testing::ValuesIn(kTranscendental),
                                            ::testing::Bool()),
                         CaseName);

// Exact results: rounding, the one-argument real-result words, kinds, the choices.
const FnCase kExact[] = {
    {"sqr(3)", C{9, 0}, false},
    {"sqr(cplx(1, 2))", C{-3, 4}, true},
    {"sqrt(-4)", C{kNaN, 0}, false},  // a real argument stays real
    {"sqrt(cplx(-4, 0))", C{0, 2}, true},
    {"ln(-1)", C{kNaN, 0}, false},
    {"arcsin(2)", C{kNaN, 0}, false},
    {"conj(3)", C{3, 0}, false},
    {"conj(cplx(1, 2))", C{1, -2}, true},
    {"round(2.5)", C{2, 0}, false},
    {"round(3.5)", C{4, 0}, false},
    {"round(-2.5)", C{-2, 0}, false},
    {"round(cplx(2.5, -3.5))", C{2, -4}, true},
    {"trunc(-2.7)", C{-2, 0}, false},
    {"trunc(cplx(-2.7, 2.7))", C{-2, 2}, true},
    // an integer result has no negative zero
    {"1/round(-0.4)", C{kInf, 0}, false},
    {"1/trunc(-0.5)", C{kInf, 0}, false},
    {"arctan2(0, trunc(-0.5))", C{0, 0}, false},
    {"floor(-2.5)", C{-3, 0}, false},
    {"floor(cplx(2.1, -2.1))", C{2, -3}, true},
    {"ceil(2.1)", C{3, 0}, false},
    {"ceil(cplx(2.1, -2.1))", C{3, -2}, true},
    {"LOG10(100)", C{2, 0}, false},  // names in any case
    {"LogN(2, 8)", C{3, 0}, false},
    {"abs(-3)", C{3, 0}, false},
    {"abs(cplx(3, 4))", C{5, 0}, false},
    {"norm(3)", C{9, 0}, false},
    {"norm(cplx(3, 4))", C{25, 0}, false},
    {"arg(-1)", C{m::PI, 0}, false},
    {"arg(2)", C{0, 0}, false},
    {"arg(-0)", C{0, 0}, false},
    {"arg(nan)", C{kNaN, 0}, false},
    {"arg(i)", C{m::PIDIV2, 0}, false},
    {"sgn(-2)", C{-1, 0}, false},
    {"sgn(cplx(0, 2))", C{1, 0}, false},
    {"sgn(cplx(-1, 2))", C{-1, 0}, false},
    {"real(3)", C{3, 0}, false},
    {"real(cplx(1, 2))", C{1, 0}, false},
    {"imag(3)", C{0, 0}, false},
    {"imag(cplx(1, 2))", C{2, 0}, false},
    {"isnan(nan)", C{1, 0}, false},
    {"isnan(1)", C{0, 0}, false},
    {"isnan(cplx(1, nan))", C{1, 0}, false},
    {"isinf(inf)", C{1, 0}, false},
    {"isinf(i)", C{0, 0}, false},
    {"isinf(cinf)", C{1, 0}, false},
    {"isnaninf(nan)", C{1, 0}, false},
    {"isinfnan(1)", C{0, 0}, false},
    {"isinfnan(cplx(inf, 0))", C{1, 0}, false},
    {"isnaninf(cplx(1, 2))", C{0, 0}, false},
    {"flip(3)", C{0, 3}, true},
    {"flip(cplx(1, 2))", C{2, 1}, true},
    {"cplx(1, 2)", C{1, 2}, true},
    {"cplx(1, 0)", C{1, 0}, true},  // complex, unless folding makes it a real constant
    {"max(2, 3)", C{3, 0}, false},
    {"max(cplx(0, 3), 2)", C{0, 3}, true},
    {"max(2, cplx(0, 3))", C{0, 3}, true},
    {"min(2, 3)", C{2, 0}, false},
    {"min(cplx(0, 3), 2)", C{2, 0}, true},  // the promoted real, complex
    {"min(cplx(0, 3), cplx(0, -1))", C{0, -1}, true},
    {"pythag(3, 4)", C{5, 0}, false},
    {"pythag(cplx(3, 0), 4)", C{5, 0}, true},
    {"intpower(2, 10)", C{1024, 0}, false},
    {"intpower(cplx(1, 1), 2)", C{0, 2}, true},
    {"gcd(12, 18)", C{6, 0}, false},
    {"gcd(12.4, 18)", C{6, 0}, false},
    {"gcd(0, 0)", C{0, 0}, false},
    {"lcm(4, 6)", C{12, 0}, false},
    {"lcm(-4, 6)", C{-12, 0}, false},
    {"rem(7, 3)", C{1, 0}, false},
    {"rem(-7, 3)", C{-1, 0}, false},
    {"rem(7, -3)", C{1, 0}, false},
    {"rem(5.5, 2)", C{1.5, 0}, false},
    {"rem(cplx(7, 1), cplx(3, 0))", C{1, 1}, true},
    {"rem(cplx(7, 1), 3)", C{1, 1}, true},  // mixed kinds: the real one promoted
    {"rem(7, cplx(3, 0))", C{1, 0}, true},
    {"if(1, 2, 3)", C{2, 0}, false},
    {"if(0, 2, 3)", C{3, 0}, false},
    {"if(-1, 2, 3)", C{3, 0}, false},
    {"if(nan, 2, 3)", C{3, 0}, false},
    {"if(i, 2, 3)", C{2, 0}, false},
    {"if(1, cplx(1, 0), 3)", C{1, 0}, true},  // the copy keeps the kind
    {"if(cplx(0, 0), 2, i)", C{0, 1}, true},
    {"epx2(1)", C{2, 0}, false},
    {"arcsc(2)", C{m::PI / 6, 0}, false},
    {"gamma(5)", C{24, 0}, false},
    // Outside the integer ranges: round and trunc keep the (already integral) value,
    // ceil, floor, gcd, lcm and the integer operators saturate; NaN stays NaN.
    {"round(1e300)", C{1e300, 0}, false},
    {"round(-1e19)", C{-1e19, 0}, false},
    {"trunc(1e19)", C{1e19, 0}, false},
    {"round(nan)", C{kNaN, 0}, false},
    {"trunc(-inf)", C{-kInf, 0}, false},
    {"ceil(1e10)", C{2147483647, 0}, false},
    {"floor(-1e10)", C{-2147483648.0, 0}, false},
    {"floor(inf)", C{2147483647, 0}, false},
    {"ceil(nan)", C{kNaN, 0}, false},
    {"floor(nan)", C{kNaN, 0}, false},
    {"gcd(3e9, 6)", C{1, 0}, false},  // gcd(2147483647, 6)
    {"gcd(-3e9, 0)", C{2147483647, 0}, false},
    {"gcd(nan, 6)", C{kNaN, 0}, false},
    {"lcm(65536, 65537)", C{2147483647, 0}, false},
    {"lcm(6, nan)", C{kNaN, 0}, false},
    {"1e30!", C{kInf, 0}, false},
    {"(-1e30)!", C{kNaN, 0}, false},
    {"intpower(2, 1e20)", C{kInf, 0}, false},
    {"intpower(2, -1e20)", C{0, 0}, false},
    {"intpower(-1, 3e9)", C{-1, 0}, false},  // the exponent saturates at 2^31 - 1
    {"intpower(2, nan)", C{kNaN, 0}, false},
    {"1e30 div 1", C{9223372036854775807.0, 0}, false},
    {"-1e30 div -1", C{9223372036854775808.0, 0}, false},
    {"-1e30 mod -1", C{0, 0}, false},
};
INSTANTIATE_TEST_SUITE_P(Exact, FunctionsValue,
                         ::testing::Combine(::testing::ValuesIn(kExact), ::testing::Bool()),
                         CaseName);

struct RefusalCase {
  const char* text;
  const char* message;
};
// Test logs name the case by its text ("2+3*4"), not by its bytes.
void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(c.text));
}

class FunctionsRefusal : public ::testing::TestWithParam<std::tuple<RefusalCase, bool>> {};

// Refusals are the general exception, not a compile error; folded, they come at compile time.
TEST_P(FunctionsRefusal, RaisesTheMessage) {
  const auto& [c, optimize] = GetParam();
  TQelExpression expr;
  expr.Optimize = optimize;
  try {
    expr.Add(c.text);
    expr.Evaluate();
    ADD_FAILURE() << c.text << " was accepted";
  } catch (const EParserException& e) {
    ADD_FAILURE() << c.text << ": compile error " << e.what();
  } catch (const rtl::Exception& e) {
    EXPECT_STREQ(e.what(), c.message) << c.text;
  }
}

const RefusalCase kRefusals[] = {
    {"cplx(i, 2)", "Cplx: arguments can not be complex!"},
    {"cplx(2, i)", "Cplx: arguments can not be complex!"},
    {"expj(i)", "Expj: argument can not be complex!"},
    {"gcd(i, 2)", "Gcd: argument can not be complex!"},
    {"lcm(2, i)", "Gcd: argument can not be complex!"},
    {"cartopolar(1)", "CartToPolar: argument must be complex!"},
    {"polartocart(2)", "PolarToCart: argument must be complex!"},
    {"arctan2(i, 1)", "ArcTan2: Arguments can not be complex!"},
    {"arctan2(1, i)", "ArcTan2: Arguments can not be complex!"},
    {"degtorad(i)", "DegToRad: argument can not be complex!"},
    {"radtodeg(i)", "DegToRad: argument can not be complex!"},
    {"randg(1, 2)", "RandomG: not supported!"},
    {"if(1, 2, randg(1, 2))", "RandomG: not supported!"},
    {"if(1, 2, cplx(i, 0))", "Cplx: arguments can not be complex!"},
    {"7 div i", "Div: argument can not be complex!"},
    {"i mod 2", "Div: argument can not be complex!"},
    {"7 div 0", "Division by zero"},
    {"i!", "Factorial: Complex argument not supported!"},
};
INSTANTIATE_TEST_SUITE_P(Messages, FunctionsRefusal,
                         ::testing::Combine(::testing::ValuesIn(kRefusals), ::testing::Bool()),
                         veskmath::tests::ReadableParamName());

// "randg" compiles, also with folding on: the message comes only when it is evaluated.
TEST(Functions, RandgCompilesAndFailsOnlyWhenEvaluated) {
  TQelExpression expr;
  expr.Optimize = true;
  EXPECT_NO_THROW(expr.Add("randg(1, 2) + 1"));
  EXPECT_THROW(expr.Evaluate(), rtl::Exception);
}

// Names that look like functions of the vocabulary but are not words of it.
TEST(Functions, NearMissNamesAreUnknown) {
  for (const std::string name : {"exp2", "arccsc", "arctan", "log", "carttopolar"}) {
    TQelExpression expr;
    try {
      expr.Add(name + "(1)");
      ADD_FAILURE() << name << " was accepted";
    } catch (const EParserException& e) {
      EXPECT_EQ(std::string(e.what()), name + " is an unknown function");
    }
  }
}

TEST(Functions, RegisteredInOrder) {
  const std::vector<std::string> expected = {
      "randg",    "exp",      "if",      "sqr",   "sqrt",     "abs",        "round",
      "trunc",    "ln",       "log10",   "logN",  "power",    "pow",        "intpower",
      "max",      "min",      "sin",     "cos",   "tan",      "arcsin",     "arccos",
      "arctan2",  "sinh",     "cosh",    "tanh",  "arcsinh",  "arccosh",    "arctanh",
      "degtorad", "radtodeg", "isnan",   "isinf", "isinfnan", "isnaninf",   "real",
      "imag",     "cplx",     "conj",    "flip",  "norm",     "epx2",       "exp10",
      "pythag",   "arg",      "sgn",     "expj",  "log2",     "sec",        "sech",
      "arcsec",   "arcsech",  "csc",     "csch",  "arcsc",    "arccsch",    "cot",
      "coth",     "arccot",   "arccoth", "gcd",   "lcm",      "cartopolar", "polartocart",
      "ceil",     "floor",    "rem",     "gamma", "lngamma"};
  std::vector<std::string> after;
  for (const TFunctionRow& row : FunctionsAfterOperators()) after.emplace_back(row.Name);
  EXPECT_EQ(after, expected);
  ASSERT_EQ(FunctionsBeforeOperators().size(), 1u);
  EXPECT_STREQ(FunctionsBeforeOperators()[0].Name, "random");
}

// --- random -------------------------------------------------------------------------------

// Each value is seed * 2^-32 for the seed that follows the previous one.
TEST(FunctionsRandom, FollowsTheCongruentialSequence) {
  TQelExpression expr;
  expr.Add("random");
  double previous = expr.Evaluate();
  for (int k = 0; k < 5; ++k) {
    const double value = expr.Evaluate();
    ASSERT_GE(value, 0.0);
    ASSERT_LT(value, 1.0);
    const uint32_t seed = static_cast<uint32_t>(previous * 0x1p32);
    ASSERT_EQ(previous * 0x1p32, static_cast<double>(seed));
    EXPECT_EQ(value, static_cast<double>(static_cast<uint32_t>(seed * 134775813u + 1u)) * 0x1p-32);
    previous = value;
  }
}

// A fresh process starts from seed 0: 1 * 2^-32, then 134775814 * 2^-32. The check runs in
// a re-executed copy of this test program, so earlier tests cannot have moved the seed.
TEST(FunctionsRandomDeathTest, FreshProcessStartsFromSeedZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TQelExpression expr;
        expr.Add("random");
        const double first = expr.Evaluate();
        const double second = expr.Evaluate();
        std::exit(first == 0x1p-32 && second == 134775814.0 * 0x1p-32 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(FunctionsRandom, NeverFoldedAndTakesNoBrackets) {
  TQelExpression expr;
  expr.Optimize = true;
  expr.Add("random + 1");
  EXPECT_NE(expr.Evaluate(), expr.Evaluate());
  // "random()" keeps the checker's rule for "()".
  try {
    expr.Add("random()");
    ADD_FAILURE() << "random() was accepted";
  } catch (const EParserException& e) {
    EXPECT_STREQ(e.what(), "Empty brackets ()");
  }
}

}  // namespace
}  // namespace veskmath::qel
