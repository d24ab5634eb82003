// Accuracy helpers of the numeric tests: the distance of two doubles in units in the last
// place, and assertions that print both values in decimal and hexadecimal floating point
// (%a) with that distance when they fail.
//
//   EXPECT_ULP_NEAR(Sin(x), expected, 2);    // at most 2 ulps apart
//   EXPECT_SAME_DOUBLE(PI, 0x1.921fb54442d18p+1);  // identical bit patterns
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace veskmath::testutil {

// "%.17g (%a)" of a double.
inline std::string Describe(double x) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.17g (%a)", x, x);
  return buf;
}

// Number of representable doubles between a and b: 0 for equal values (+0 and -0 count as
// equal), saturating at INT64_MAX. Two NaNs are 0 apart; a NaN and a number are INT64_MAX apart.
inline int64_t UlpDistance(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : INT64_MAX;
  // Map the bit patterns onto a line where neighbouring doubles are neighbouring integers.
  auto ordered = [](double x) -> int64_t {
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const int64_t magnitude = static_cast<int64_t>(bits & 0x7FFFFFFFFFFFFFFFull);
    return (bits >> 63) ? -magnitude : magnitude;
  };
  const int64_t ia = ordered(a), ib = ordered(b);
  const uint64_t d = ia > ib ? static_cast<uint64_t>(ia) - static_cast<uint64_t>(ib)
                             : static_cast<uint64_t>(ib) - static_cast<uint64_t>(ia);
  return d > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(d);
}

inline ::testing::AssertionResult UlpNear(const char* actualExpr, const char* expectedExpr,
                                          const char* /*ulpsExpr*/, double actual, double expected,
                                          int64_t maxUlps) {
  const int64_t d = UlpDistance(actual, expected);
  if (d <= maxUlps) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << actualExpr << " = " << Describe(actual) << "\n"
         << expectedExpr << " = " << Describe(expected) << "\n"
         << "distance " << (d == INT64_MAX ? std::string("(NaN or huge)") : std::to_string(d))
         << " ulps, allowed " << maxUlps;
}

// Bit-for-bit identity: tells +0 from -0 and one NaN payload from another.
inline ::testing::AssertionResult SameDouble(const char* actualExpr, const char* expectedExpr,
                                             double actual, double expected) {
  if (std::bit_cast<uint64_t>(actual) == std::bit_cast<uint64_t>(expected))
    return ::testing::AssertionSuccess();
  char bits[64];
  std::snprintf(bits, sizeof bits, "0x%016llx vs 0x%016llx",
                static_cast<unsigned long long>(std::bit_cast<uint64_t>(actual)),
                static_cast<unsigned long long>(std::bit_cast<uint64_t>(expected)));
  return ::testing::AssertionFailure()
         << actualExpr << " = " << Describe(actual) << "\n"
         << expectedExpr << " = " << Describe(expected) << "\n"
         << "bit patterns " << bits << ", " << UlpDistance(actual, expected) << " ulps apart";
}

}  // namespace veskmath::testutil

#define EXPECT_ULP_NEAR(actual, expected, ulps) \
  EXPECT_PRED_FORMAT3(::veskmath::testutil::UlpNear, actual, expected, ulps)
#define ASSERT_ULP_NEAR(actual, expected, ulps) \
  ASSERT_PRED_FORMAT3(::veskmath::testutil::UlpNear, actual, expected, ulps)
#define EXPECT_SAME_DOUBLE(actual, expected) \
  EXPECT_PRED_FORMAT2(::veskmath::testutil::SameDouble, actual, expected)
