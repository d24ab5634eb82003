// TCplx: arithmetic, transforms, rounding, polar form and the magnitude-then-phase order.
#include "math/Complex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "math/Environment.h"
#include "math/Utilities.h"
#include "tests/math/TestUtil.h"

namespace veskmath::Math387 {
namespace {

#define EXPECT_CPLX(actual, re, im)        \
  do {                                     \
    const TCplx z_ = (actual);             \
    EXPECT_SAME_DOUBLE(z_.Re, double(re)); \
    EXPECT_SAME_DOUBLE(z_.Im, double(im)); \
  } while (0)

// --- arithmetic and transforms ------------------------------------------------------------

struct ArithRow {
  const char* what;
  TCplx got;
  TCplx want;
};

TEST(Complex, ArithmeticTable) {
  const TCplx a = Cplx(1, 2), b = Cplx(3, 4);
  const std::vector<ArithRow> rows = {
      {"CAdd(a, b)", CAdd(a, b), {4, 6}},
      {"CAdd(a, 3)", CAdd(a, 3), {4, 2}},
      {"CAdd(3, a)", CAdd(3, a), {4, 2}},
      {"CSub(a, b)", CSub(a, b), {-2, -2}},
      {"CSub(a, 3)", CSub(a, 3), {-2, 2}},
      {"CSub(3, a)", CSub(3, a), {2, -2}},
      {"CMul(a, b)", CMul(a, b), {-5, 10}},
      {"CMul(a, 3)", CMul(a, 3), {3, 6}},
      {"CMul(3, a)", CMul(3, a), {3, 6}},
      {"CMul(a, conj a)", CMul(a, Conj(a)), {5, 0}},
      {"CDiv((-5,10), b)", CDiv(Cplx(-5, 10), b), {1, 2}},
      {"CDiv((3,6), 3)", CDiv(Cplx(3, 6), 3), {1, 2}},
      {"CDiv(5, a)", CDiv(5, a), {1, -2}},
      {"CInv((0,2))", CInv(Cplx(0, 2)), {0, -0.5}},
      {"CSqr(a)", CSqr(a), {-3, 4}},
      {"Neg(a)", Neg(a), {-1, -2}},
      {"Sign((3,-4))", Sign(Cplx(3, -4)), {-3, 4}},
      {"Conj(a)", Conj(a), {1, -2}},
      {"Flip(a)", Flip(a), {2, 1}},
      {"FlipConj(a)", FlipConj(a), {2, -1}},
      {"MulI(a)", MulI(a), {-2, 1}},
      {"Expj(0)", Expj(0), {1, 0}},
  };
  for (const ArithRow& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_SAME_DOUBLE(r.got.Re, r.want.Re);
    EXPECT_SAME_DOUBLE(r.got.Im, r.want.Im);
  }
  EXPECT_SAME_DOUBLE(CAbs(b), 5.0);
  EXPECT_SAME_DOUBLE(Norm(b), 25.0);
  EXPECT_SAME_DOUBLE(Arg(Cplx(0, -1)), -PIDIV2);
  EXPECT_SAME_DOUBLE(Arg(Cplx(-1, 0)), PI);
  EXPECT_SAME_DOUBLE(Real(a), 1.0);
  EXPECT_SAME_DOUBLE(Imag(a), 2.0);
}

TEST(Complex, ProcedureFormsMayAliasTheirArgument) {
  TCplx z = Cplx(1, 2);
  MulI(z, z);
  EXPECT_CPLX(z, -2, 1);
  FlipConj(z, z);
  EXPECT_CPLX(z, 1, 2);
  z = Cplx(0, 2);
  CInv(z, z);
  EXPECT_CPLX(z, 0, -0.5);
  z = Cplx(1, 2);
  CSub(z, 3, z);
  EXPECT_CPLX(z, -2, 2);
  CSub(3, z, z);
  EXPECT_CPLX(z, 5, -2);
  TCplx a = Cplx(1, 2), b = Cplx(3, 4);
  Swap(a, b);
  EXPECT_CPLX(a, 3, 4);
  EXPECT_CPLX(b, 1, 2);
}

TEST(Complex, IntermediatesAreExtended) {
  // (1 + 2^-30)(1 - 2^-30) - 1 = -2^-60: lost entirely with double intermediates.
  const double e = std::ldexp(1.0, -30);
  EXPECT_SAME_DOUBLE(CMul(Cplx(1 + e, 1), Cplx(1 - e, 1)).Re, -std::ldexp(1.0, -60));
  // Squares of 1e200 overflow a double but not the extended range.
  EXPECT_ULP_NEAR(CAbs(Cplx(1e200, 1e200)), 1e200 * SQRT2, 1);
  EXPECT_CPLX(CDiv(Cplx(1e300, 1e300), Cplx(1e300, 1e300)), 1, 0);
}

TEST(Complex, DivisionByZeroGivesNaNPartsWithoutRaising) {
  const TCplx q = CDiv(Cplx(1, 2), C_ZERO);
  EXPECT_TRUE(std::isnan(q.Re));
  EXPECT_TRUE(std::isnan(q.Im));
  const TCplx inv = CInv(C_ZERO);
  EXPECT_TRUE(std::isnan(inv.Re));
  EXPECT_TRUE(std::isnan(inv.Im));
  EXPECT_CPLX(CDiv(Cplx(1, -2), 0.0), INF, -INF);
}

TEST(Complex, Classification) {
  EXPECT_TRUE(IsInf(Cplx(1, INF)));
  EXPECT_TRUE(IsInf(Cplx(-INF, 0)));
  EXPECT_FALSE(IsNan(Cplx(1, INF)));
  EXPECT_TRUE(IsNan(Cplx(NaN, 0)));
  EXPECT_TRUE(IsInfNan(Cplx(1, NaN)));
  EXPECT_TRUE(IsNanInf(Cplx(INF, 1)));
  EXPECT_FALSE(IsInfNan(Cplx(1e308, -1e308)));
}

TEST(Complex, Sgn) {
  EXPECT_EQ(Sgn(Cplx(2, -5)), 1);
  EXPECT_EQ(Sgn(Cplx(-2, 5)), -1);
  EXPECT_EQ(Sgn(Cplx(0, -2)), -1);
  EXPECT_EQ(Sgn(Cplx(0, 2)), 1);
  EXPECT_EQ(Sgn(C_ZERO), 0);
  EXPECT_EQ(Sgn(Cplx(NaN, 2)), -1);  // a NaN part counts as "less"
  EXPECT_EQ(Sgn(Cplx(0, NaN)), -1);
}

// --- rounding -----------------------------------------------------------------------------

TEST(Complex, RoundingAndRemainder) {
  EXPECT_CPLX(CTrunc(Cplx(-2.7, 2.7)), -2, 2);
  EXPECT_CPLX(CFrac(Cplx(-2.5, 0)), -0.5, 0);
  EXPECT_CPLX(CFrac(Cplx(3.25, -1.75)), 0.25, -0.75);
  EXPECT_CPLX(Floor(Cplx(-2.5, 2.5)), -3, 2);
  EXPECT_CPLX(Ceil(Cplx(-2.5, 2.5)), -2, 3);
  EXPECT_CPLX(CRound(Cplx(2.5, 3.5)), 2, 4);  // ties to even
  EXPECT_CPLX(CRound(Cplx(-2.7, 0.2)), -3, 0);
  EXPECT_CPLX(Rem(Cplx(7, 0), Cplx(2, 0)), 1, 0);
  EXPECT_CPLX(Rem(Cplx(-7, 0), Cplx(2, 0)), -1, 0);
  // (5+3i) / (2+i) = 2.6+0.2i, truncated 2; 5+3i - 2(2+i) = 1+i
  EXPECT_CPLX(Rem(Cplx(5, 3), Cplx(2, 1)), 1, 1);
}

TEST(Complex, CRoundFollowsTheCurrentRoundingMode) {
  RoundToTruncScope truncating;
  EXPECT_CPLX(CRound(Cplx(2.7, -2.7)), 2, -2);
}

// --- polar form ---------------------------------------------------------------------------

TEST(Complex, PolarForm) {
  EXPECT_CPLX(CartToPolar(Cplx(0, -1)), 1, -PIDIV2);
  EXPECT_CPLX(CartToPolar(Cplx(-1, 0)), 1, PI);
  EXPECT_SAME_DOUBLE(CartToPolar(Cplx(3, 4)).Re, 5.0);
  EXPECT_ULP_NEAR(CartToPolar(Cplx(3, 4)).Im, std::atan2(4.0, 3.0), 1);
  const TCplx back = PolarToCart(CartToPolar(Cplx(0, -1)));
  EXPECT_NEAR(back.Re, 0.0, 1e-16);
  EXPECT_SAME_DOUBLE(back.Im, -1.0);
  for (const TCplx z : {Cplx(3, 4), Cplx(-1.5, 0.25), Cplx(-2, -7), Cplx(1e-3, -1e3)}) {
    SCOPED_TRACE(testing::Message() << z.Re << "," << z.Im);
    // The rounded angle limits the accuracy to a few ulps of the magnitude.
    const TCplx r = PolarToCart(CartToPolar(z));
    const double tol = 4 * MACHEP * CAbs(z);
    EXPECT_NEAR(r.Re, z.Re, tol);
    EXPECT_NEAR(r.Im, z.Im, tol);
  }
}

// From 2^63 on the processor's sine and cosine would hand the angle back unchanged.
TEST(Complex, PolarFormOfHugeAngles) {
  for (const double t : {0x1p63, -1e19, 9e31, 1e300}) {
    SCOPED_TRACE(t);
    EXPECT_NEAR(CAbs(Expj(t)), 1.0, 4 * MACHEP);
    EXPECT_NEAR(CAbs(PolarToCart(Cplx(88, t))), 88.0, 88 * 4 * MACHEP);
  }
  const TCplx z = Expj(INF);
  EXPECT_TRUE(std::isnan(z.Re) && std::isnan(z.Im));
}

// --- order --------------------------------------------------------------------------------

// Points of equal magnitude 5 (squares exact), in increasing phase from -pi (exclusive) to
// pi (inclusive).
const std::vector<TCplx> kByPhase = {
    {-4, -3}, {-3, -4}, {0, -5}, {3, -4}, {4, -3}, {5, 0},
    {4, 3},   {3, 4},   {0, 5},  {-3, 4}, {-4, 3}, {-5, 0},
};

TEST(Complex, EqualMagnitudesOrderByPhase) {
  for (size_t i = 0; i < kByPhase.size(); ++i) {
    for (size_t j = 0; j < kByPhase.size(); ++j) {
      const TCplx a = kByPhase[i], b = kByPhase[j];
      SCOPED_TRACE(testing::Message()
                   << "(" << a.Re << "," << a.Im << ") vs (" << b.Re << "," << b.Im << ")");
      EXPECT_EQ(Bigger2(a, b), i > j);
      EXPECT_EQ(Smaller2(a, b), i < j);
      EXPECT_EQ(Bigger(a, b), i > j);
      EXPECT_EQ(Smaller(a, b), i < j);
      EXPECT_EQ(BiggerOrEqual(a, b), i >= j);
      EXPECT_EQ(SmallerOrEqual(a, b), i <= j);
    }
  }
}

struct OrderRow {
  TCplx a, b;
  bool bigger, smaller, biggerOrEqual, smallerOrEqual;
};

// Each row is checked in every operand mix that applies: (C, C), (C, x) when b is real and
// (x, C) when a is real.
TEST(Complex, OrderInAllOperandMixes) {
  const std::vector<OrderRow> rows = {
      {{-2, 0}, {2, 0}, true, false, true, false},  // of x and -x the negative one is bigger
      {{2, 0}, {-2, 0}, false, true, false, true},
      {{0, 1}, {1, 0}, true, false, true, false},   // phase pi/2 against 0
      {{0, -1}, {1, 0}, false, true, false, true},  // phase -pi/2
      {{1, 0}, {1, 0}, false, false, true, true},
      {{1, 0}, {0.5, 0}, true, false, true, false},
      {{0.5, 7}, {-8, 0}, false, true, false, true},
      {{-INF, 0}, {INF, 0}, true, false, true, false},
      {{NaN, 0}, {1, 0}, false, true, false, true},  // NaN: never bigger, always smaller
      {{1, 0}, {NaN, 0}, false, true, false, true},
      {{0, NaN}, {1, 0}, false, true, false, true},
  };
  for (const OrderRow& r : rows) {
    SCOPED_TRACE(testing::Message()
                 << "(" << r.a.Re << "," << r.a.Im << ") vs (" << r.b.Re << "," << r.b.Im << ")");
    EXPECT_EQ(Bigger(r.a, r.b), r.bigger);
    EXPECT_EQ(Smaller(r.a, r.b), r.smaller);
    EXPECT_EQ(BiggerOrEqual(r.a, r.b), r.biggerOrEqual);
    EXPECT_EQ(SmallerOrEqual(r.a, r.b), r.smallerOrEqual);
    if (r.b.Im == 0) {
      EXPECT_EQ(Bigger(r.a, r.b.Re), r.bigger);
      EXPECT_EQ(Smaller(r.a, r.b.Re), r.smaller);
      EXPECT_EQ(BiggerOrEqual(r.a, r.b.Re), r.biggerOrEqual);
      EXPECT_EQ(SmallerOrEqual(r.a, r.b.Re), r.smallerOrEqual);
    }
    if (r.a.Im == 0) {
      EXPECT_EQ(Bigger(r.a.Re, r.b), r.bigger);
      EXPECT_EQ(Smaller(r.a.Re, r.b), r.smaller);
      EXPECT_EQ(BiggerOrEqual(r.a.Re, r.b), r.biggerOrEqual);
      EXPECT_EQ(SmallerOrEqual(r.a.Re, r.b), r.smallerOrEqual);
    }
  }
}

TEST(Complex, Equality) {
  EXPECT_TRUE(Equal(Cplx(1, 2), Cplx(1, 2)));
  EXPECT_FALSE(Equal(Cplx(1, 2), Cplx(1, 2.0000000000000004)));
  EXPECT_TRUE(Equal(Cplx(1, 1e-9), Cplx(1, 0), 1e-9));  // inclusive, part by part
  EXPECT_FALSE(Equal(Cplx(1, 2e-9), Cplx(1, 0), 1e-9));
  EXPECT_FALSE(Equal(Cplx(1 + 2e-9, 0), Cplx(1, 0), 1e-9));
  EXPECT_TRUE(Equal(Cplx(1, 0), 1.0));
  EXPECT_TRUE(Equal(1.0, Cplx(1, 0)));
  EXPECT_FALSE(Equal(Cplx(1, 1e-300), 1.0));
  EXPECT_TRUE(Equal(CNAN, Cplx(1, 2)));  // the NaN rule: NaN parts compare equal
  EXPECT_TRUE(Equal(Cplx(NaN, 0), 5.0));
  EXPECT_TRUE(Equal(Cplx(1, NaN), Cplx(1, 0), 1e-9));
}

TEST(Complex, MaxMinTiesAndNaN) {
  EXPECT_CPLX(Max(Cplx(2, 0), Cplx(-2, 0)), -2, 0);
  EXPECT_CPLX(Min(Cplx(-2, 0), Cplx(2, 0)), 2, 0);
  EXPECT_CPLX(Max(Cplx(0, 3), Cplx(1, 1)), 0, 3);
  EXPECT_CPLX(Min(Cplx(0, 3), Cplx(1, 1)), 1, 1);
  // Equal numbers: both return their second argument (told apart by the sign of zero).
  EXPECT_CPLX(Max(Cplx(0.0, 1), Cplx(-0.0, 1)), -0.0, 1);
  EXPECT_CPLX(Max(Cplx(-0.0, 1), Cplx(0.0, 1)), 0.0, 1);
  EXPECT_CPLX(Min(Cplx(0.0, 1), Cplx(-0.0, 1)), -0.0, 1);
  EXPECT_CPLX(Min(Cplx(-0.0, 1), Cplx(0.0, 1)), 0.0, 1);
  // A NaN operand is never bigger and always smaller.
  EXPECT_CPLX(Max(CNAN, Cplx(1, 0)), 1, 0);
  EXPECT_TRUE(IsNan(Max(Cplx(1, 0), CNAN)));
  EXPECT_TRUE(IsNan(Min(CNAN, Cplx(1, 0))));
}

}  // namespace
}  // namespace veskmath::Math387
