// Every exported constant against its decimal text and against its defining expression
// evaluated in extended precision and rounded once to double.
#include "math/Constants.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "math/Complex.h"
#include "tests/math/TestUtil.h"

namespace veskmath::Math387 {
namespace {

using ld = long double;

const ld kPiL = acosl(-1.0L);

struct NamedConstant {
  const char* name;
  double value;
  const char* text;  // shortest decimal that reads back to the double
  ld definition;     // the defining expression in extended precision
};

std::vector<NamedConstant> NamedConstants() {
  const ld gold = (1.0L + sqrtl(5.0L)) / 2.0L;
  return {
      {"PI", PI, "3.141592653589793", kPiL},
      {"LN2", LN2, "0.6931471805599453", logl(2.0L)},
      {"LN10", LN10, "2.302585092994046", logl(10.0L)},
      {"LNPI", LNPI, "1.1447298858494002", logl(kPiL)},
      {"INVLN2", INVLN2, "1.4426950408889634", 1.0L / logl(2.0L)},
      {"INVLN10", INVLN10, "0.4342944819032518", 1.0L / logl(10.0L)},
      {"TWOPI", TWOPI, "6.283185307179586", 2.0L * kPiL},
      {"INVTWOPI", INVTWOPI, "0.15915494309189535", 1.0L / (2.0L * kPiL)},
      {"PIDIV2", PIDIV2, "1.5707963267948966", kPiL / 2.0L},
      {"SQRTPI", SQRTPI, "1.772453850905516", sqrtl(kPiL)},
      {"SQRT2PI", SQRT2PI, "2.5066282746310007", sqrtl(2.0L * kPiL)},
      {"INVSQRT2PI", INVSQRT2PI, "0.3989422804014327", 1.0L / sqrtl(2.0L * kPiL)},
      {"LNSQRT2PI", LNSQRT2PI, "0.9189385332046728", logl(sqrtl(2.0L * kPiL))},
      {"LN2PIDIV2", LN2PIDIV2, "0.9189385332046728", logl(2.0L * kPiL) / 2.0L},
      {"SQRT2", SQRT2, "1.4142135623730951", sqrtl(2.0L)},
      {"SQRT2DIV2", SQRT2DIV2, "0.7071067811865476", sqrtl(2.0L) / 2.0L},
      {"GOLD", GOLD, "1.618033988749895", gold},
      {"CGOLD", CGOLD, "0.38196601125010515", 2.0L - gold},
      {"PI180", PI180, "0.017453292519943295", kPiL / 180.0L},
      {"INVPI180", INVPI180, "57.29577951308232", 180.0L / kPiL},
      {"MACHEP", MACHEP, "2.220446049250313e-16", ldexpl(1.0L, -52)},
      {"MINNUM", MINNUM, "2.225073858507202e-308", ld{DBL_MIN} + ldexpl(1.0L, -1074)},
      {"MAXLOG", MAXLOG, "709.782712893384", logl(DBL_MAX)},
      {"MINLOG", MINLOG, "-708.3964185322641", logl(DBL_MIN)},
  };
}

TEST(Constants, MatchDecimalTextAndDefinition) {
  for (const NamedConstant& c : NamedConstants()) {
    SCOPED_TRACE(c.name);
    EXPECT_SAME_DOUBLE(c.value, std::strtod(c.text, nullptr));
    EXPECT_SAME_DOUBLE(c.value, static_cast<double>(c.definition));
  }
}

// The limits of the factorial and Gamma functions are defined by where a double overflows.
TEST(Constants, OverflowLimits) {
  EXPECT_SAME_DOUBLE(MAXFAC, 170.0);
  EXPECT_TRUE(std::isfinite(static_cast<double>(tgammal(MAXFAC + 1))));  // 170!
  EXPECT_TRUE(std::isinf(static_cast<double>(tgammal(MAXFAC + 2))));     // 171!

  EXPECT_SAME_DOUBLE(MAXGAM, std::strtod("171.624376956302", nullptr));
  EXPECT_TRUE(std::isfinite(static_cast<double>(tgammal(MAXGAM))));
  EXPECT_TRUE(std::isinf(static_cast<double>(tgammal(ld{MAXGAM} + 1e-11L))));

  // A safe bound rather than the exact edge: LnGamma stays finite there.
  EXPECT_SAME_DOUBLE(MAXLGM, std::strtod("2.556348e305", nullptr));
  const double lgm = static_cast<double>(lgammal(MAXLGM));
  EXPECT_TRUE(std::isfinite(lgm));
  EXPECT_GT(lgm, 0.998 * DBL_MAX);
}

TEST(Constants, SpecialValues) {
  EXPECT_EQ(std::bit_cast<uint64_t>(NaN), 0xFFF8000000000000ull);
  EXPECT_EQ(std::bit_cast<uint64_t>(INF), 0x7FF0000000000000ull);
  EXPECT_EQ(std::bit_cast<uint64_t>(CNAN.Re), 0xFFF8000000000000ull);
  EXPECT_EQ(std::bit_cast<uint64_t>(CNAN.Im), 0xFFF8000000000000ull);
  EXPECT_SAME_DOUBLE(CINF.Re, INF);
  EXPECT_SAME_DOUBLE(CINF.Im, INF);
  EXPECT_SAME_DOUBLE(C_PI.Re, PI);
  EXPECT_SAME_DOUBLE(C_pi_div_2.Re, PIDIV2);
  EXPECT_SAME_DOUBLE(C_I.Im, 1.0);
}

TEST(Constants, FactorialTable) {
  ASSERT_EQ(FactTable.size(), 31u);
  EXPECT_SAME_DOUBLE(FactTable[0], 1.0);
  // Entry k is k times the stored entry k - 1, multiplied in extended precision and
  // rounded once.
  for (size_t k = 1; k < FactTable.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_SAME_DOUBLE(FactTable[k], static_cast<double>(ld{FactTable[k - 1]} * k));
  }
  // Up to 22! the factorials are exact doubles.
  uint64_t exact = 1;
  for (size_t k = 1; k <= 20; ++k) {
    exact *= k;
    EXPECT_SAME_DOUBLE(FactTable[k], static_cast<double>(exact));
  }
  EXPECT_SAME_DOUBLE(FactTable[21], 51090942171709440000.0);
  EXPECT_SAME_DOUBLE(FactTable[22], 1124000727777607680000.0);
  // Beyond, the running product stays within a few ulps of the true value.
  EXPECT_ULP_NEAR(FactTable[30], 265252859812191058636308480000000.0, 4);
}

}  // namespace
}  // namespace veskmath::Math387
