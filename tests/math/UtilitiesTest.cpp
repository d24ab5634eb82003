// The NaN comparison rule and the small real and integer utilities.
#include "math/Utilities.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <vector>

#include "math/Constants.h"
#include "tests/math/TestUtil.h"

namespace veskmath::Math387 {
namespace {

// --- the NaN rule -------------------------------------------------------------------------

struct RuleRow {
  double a, b;
  bool less, lessEq, equal, notEqual, greater, greaterEq;
};

TEST(Utilities, NaNRuleComparisons) {
  const std::vector<RuleRow> rows = {
      {1, 2, true, true, false, true, false, false},
      {2, 1, false, false, false, true, true, true},
      {1, 1, false, true, true, false, false, true},
      {-0.0, 0.0, false, true, true, false, false, true},
      {NaN, 1, true, true, true, false, false, false},
      {1, NaN, true, true, true, false, false, false},
      {NaN, NaN, true, true, true, false, false, false},
      {INF, NaN, true, true, true, false, false, false},
  };
  for (const RuleRow& r : rows) {
    SCOPED_TRACE(testing::Message() << r.a << " vs " << r.b);
    EXPECT_EQ(NLess(r.a, r.b), r.less);
    EXPECT_EQ(NLessEq(r.a, r.b), r.lessEq);
    EXPECT_EQ(NEqual(r.a, r.b), r.equal);
    EXPECT_EQ(NNotEqual(r.a, r.b), r.notEqual);
    EXPECT_EQ(NGreater(r.a, r.b), r.greater);
    EXPECT_EQ(NGreaterEq(r.a, r.b), r.greaterEq);
  }
}

TEST(Utilities, MinMaxSgnSignFollowTheNaNRule) {
  EXPECT_SAME_DOUBLE(Min(1.0, 2.0), 1.0);
  EXPECT_SAME_DOUBLE(Max(1.0, 2.0), 2.0);
  EXPECT_SAME_DOUBLE(Min(NaN, 2.0), NaN);  // NaN > 2 fails: A
  EXPECT_SAME_DOUBLE(Max(NaN, 2.0), 2.0);  // NaN < 2 holds: B
  EXPECT_SAME_DOUBLE(Min(2.0, NaN), 2.0);
  EXPECT_SAME_DOUBLE(Max(2.0, NaN), NaN);
  EXPECT_EQ(Min(int32_t{3}, int32_t{-4}), -4);
  EXPECT_EQ(Max(int32_t{3}, int32_t{-4}), 3);

  EXPECT_EQ(Sgn(2.5), 1);
  EXPECT_EQ(Sgn(-2.5), -1);
  EXPECT_EQ(Sgn(0.0), 0);
  EXPECT_EQ(Sgn(-0.0), 0);
  EXPECT_EQ(Sgn(NaN), 0);
  EXPECT_EQ(Sgn(-INF), -1);

  EXPECT_SAME_DOUBLE(Sign(-3, 0), 3.0);
  EXPECT_SAME_DOUBLE(Sign(3, -0.5), -3.0);
  EXPECT_SAME_DOUBLE(Sign(-3, 2), 3.0);
  EXPECT_SAME_DOUBLE(Sign(3, NaN), -3.0);
  EXPECT_SAME_DOUBLE(Sign(3, -0.0), 3.0);  // -0 is not below 0
}

struct ToleranceRow {
  double a, b, tol;
  bool equal, bigger, smaller;
};

TEST(Utilities, ToleranceComparisons) {
  const std::vector<ToleranceRow> rows = {
      {1.05, 1, 0.1, true, false, false}, {1.2, 1, 0.1, false, true, false},
      {0.8, 1, 0.1, false, false, true},  {1, 1, 0, true, false, false},
      {1.5, 1, 0.5, true, false, false},  // inclusive
      {NaN, 1, 0.1, true, false, true},   {1, 1, NaN, true, false, true},
  };
  for (const ToleranceRow& r : rows) {
    SCOPED_TRACE(testing::Message() << r.a << " vs " << r.b << " tol " << r.tol);
    EXPECT_EQ(Equal(r.a, r.b, r.tol), r.equal);
    EXPECT_EQ(Bigger(r.a, r.b, r.tol), r.bigger);
    EXPECT_EQ(Smaller(r.a, r.b, r.tol), r.smaller);
  }
}

TEST(Utilities, Ranges) {
  EXPECT_TRUE(CheckRange(1.0, 1.0, 1.0));
  EXPECT_FALSE(CheckRange(1.0, 1.5, 1.2));
  EXPECT_FALSE(CheckRange(0.0, NaN, 2.0));
  EXPECT_FALSE(CheckRange(NaN, 1.0, 2.0));
  EXPECT_TRUE(CheckRange(int32_t{1}, int32_t{1}, int32_t{1}));
  EXPECT_FALSE(CheckRange(int32_t{1}, int32_t{0}, int32_t{3}));

  EXPECT_SAME_DOUBLE(EnsureRange(0.0, 5.0, 3.0), 3.0);
  EXPECT_SAME_DOUBLE(EnsureRange(0.0, -5.0, 3.0), 0.0);
  EXPECT_SAME_DOUBLE(EnsureRange(0.0, 2.0, 3.0), 2.0);
  EXPECT_SAME_DOUBLE(EnsureRange(0.0, NaN, 3.0), 0.0);  // NaN < Low holds
  EXPECT_EQ(EnsureRange(int32_t{0}, int32_t{5}, int32_t{3}), 3);
  EXPECT_EQ(EnsureRange(int32_t{0}, int32_t{-5}, int32_t{3}), 0);

  double v = 7.5;
  LimitRange(0.0, v, 3.0);
  EXPECT_SAME_DOUBLE(v, 3.0);
  int32_t n = -2;
  LimitRange(0, n, 3);
  EXPECT_EQ(n, 0);
}

// --- integer rounding ---------------------------------------------------------------------

struct RoundRow {
  double x;
  int32_t ceil, floor;
};

TEST(Utilities, CeilAndFloor) {
  const std::vector<RoundRow> rows = {
      {-2.5, -2, -3},
      {2.5, 3, 2},
      {3, 3, 3},
      {-3, -3, -3},
      {-0.5, 0, -1},
      {0.5, 1, 0},
      {1e-300, 1, 0},
      {2147483646.5, INT32_MAX, 2147483646},
      {1e10, INT32_MAX, INT32_MAX},  // saturates
      {-1e10, INT32_MIN, INT32_MIN},
      {NaN, INT32_MIN, INT32_MIN},  // the integer indefinite
  };
  for (const RoundRow& r : rows) {
    SCOPED_TRACE(r.x);
    EXPECT_EQ(Ceil(r.x), r.ceil);
    EXPECT_EQ(Floor(r.x), r.floor);
  }
}

TEST(Utilities, RemTakesTheSignOfX) {
  EXPECT_SAME_DOUBLE(Rem(-7, 2), -1.0);
  EXPECT_SAME_DOUBLE(Rem(7, -2), 1.0);
  EXPECT_SAME_DOUBLE(Rem(7.5, 2), 1.5);
  EXPECT_SAME_DOUBLE(Rem(-7.5, -2), -1.5);
  EXPECT_SAME_DOUBLE(Rem(6, 3), 0.0);
  EXPECT_TRUE(std::isnan(Rem(1, 0)));
  // y * trunc(x / y) = 9007199254740993 needs 54 bits: only an extended intermediate gives 1.
  EXPECT_SAME_DOUBLE(Rem(9007199254740994.0, 3.0), 1.0);
}

TEST(Utilities, RoundingToIntegers) {
  EXPECT_EQ(RoundToInt32(2.5L), 2);  // ties to even
  EXPECT_EQ(RoundToInt32(3.5L), 4);
  EXPECT_EQ(RoundToInt32(-2.5L), -2);
  EXPECT_EQ(RoundToInt32(1e12L), INT32_MAX);
  EXPECT_EQ(TruncToInt32(-2.9L), -2);
  EXPECT_EQ(TruncToInt32(static_cast<long double>(NaN)), INT32_MIN);
  EXPECT_EQ(TruncToInt64(1e30L), INT64_MAX);
  EXPECT_EQ(RoundToInt64(-4503599627370497.5L), -4503599627370498);
}

TEST(Utilities, PowersOfTwo) {
  const std::vector<std::pair<int32_t, int32_t>> exp2 = {
      {-5, 2}, {0, 2}, {1, 2}, {2, 2}, {3, 4}, {1024, 1024}, {1025, 2048}, {1 << 30, 1 << 30}};
  for (const auto& [n, p] : exp2) EXPECT_EQ(LargestExp2(n), p) << n;
  const std::vector<std::pair<int32_t, int32_t>> log2 = {
      {-8, 0}, {0, 0}, {1, 0}, {2, 1}, {3, 1}, {1023, 9}, {1024, 10}, {INT32_MAX, 30}};
  for (const auto& [n, l] : log2) EXPECT_EQ(LargestLog2(n), l) << n;
}

// --- classification on bit patterns -------------------------------------------------------

struct ClassRow {
  uint64_t bits;
  bool nan, inf;
};

TEST(Utilities, ClassificationLooksAtTheBits) {
  const std::vector<ClassRow> rows = {
      {0x0000000000000000, false, false},  // +0
      {0x8000000000000000, false, false},  // -0
      {0x0000000000000001, false, false},  // smallest subnormal
      {0x7FEFFFFFFFFFFFFF, false, false},  // largest double
      {0x7FF0000000000000, false, true},   // +INF
      {0xFFF0000000000000, false, true},   // -INF
      {0x7FF0000000000001, true, false},   // signalling NaN
      {0x7FF8000000000000, true, false},   // quiet NaN
      {0xFFF8000000000000, true, false},   // the library's NaN
      {0xFFFFFFFFFFFFFFFF, true, false},
  };
  for (const ClassRow& r : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << r.bits);
    const double x = std::bit_cast<double>(r.bits);
    EXPECT_EQ(IsNan(x), r.nan);
    EXPECT_EQ(IsInf(x), r.inf);
    EXPECT_EQ(IsInfNan(x), r.nan || r.inf);
    EXPECT_EQ(IsNanInf(x), r.nan || r.inf);
  }
}

}  // namespace
}  // namespace veskmath::Math387
