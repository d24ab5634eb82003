// The floating-point environment after start-up, the rounding switches, ERaise and ClockIt.
#include "math/Environment.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <string>

#include "math/Constants.h"
#include "math/X87.h"
#include "platform/base/DateTime.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace veskmath::Math387 {
namespace {

// Bit 6 of the x87 control word is reserved and reads back as 1 on current processors;
// bits 13-15 are unused. Compare only the defined fields.
constexpr uint16_t kDefinedBits = 0x1F3F;

#if defined(__x86_64__) || defined(__i386__)
TEST(Environment, StartUpLoadsTheLibraryControlWord) {
  EXPECT_EQ(Get8087CW() & kDefinedBits, Korvel8087CW);
  EXPECT_EQ(_mm_getcsr() & 0x1F80u, 0x1F80u);  // SSE exceptions masked as well
}

TEST(Environment, InitFloatingPointSavesTheWordItFinds) {
  const uint16_t savedBefore = QelSaved8087CW;
  Set8087CW(0x027F);  // double precision, nearest
  InitFloatingPoint();
  EXPECT_EQ(QelSaved8087CW & kDefinedBits, 0x023F);
  EXPECT_EQ(Get8087CW() & kDefinedBits, Korvel8087CW);
  QelSaved8087CW = savedBefore;
}

TEST(Environment, RoundToTruncAndRestore) {
  const uint16_t before = Get8087CW();
  const uint16_t previous = SetRoundToTrunc();
  EXPECT_EQ(previous, before);
  EXPECT_EQ(Get8087CW() & 0x0F00, 0x0F00);           // extended precision, toward zero
  EXPECT_EQ(Get8087CW() & 0x003F, before & 0x003F);  // masks untouched
  EXPECT_EQ(x87::RoundInt(2.7L), 2.0L);
  EXPECT_EQ(x87::RoundInt(-2.7L), -2.0L);
  RestoreRound(previous);
  EXPECT_EQ(Get8087CW(), before);
  EXPECT_EQ(x87::RoundInt(2.7L), 3.0L);
  EXPECT_EQ(x87::RoundInt(2.5L), 2.0L);  // ties to even
  EXPECT_EQ(x87::RoundInt(3.5L), 4.0L);
}

TEST(Environment, RoundToTruncScopeRestoresOnExit) {
  const uint16_t before = Get8087CW();
  {
    RoundToTruncScope scope;
    EXPECT_EQ(x87::RoundInt(-0.9L), 0.0L);
  }
  EXPECT_EQ(Get8087CW(), before);
}
#endif

TEST(Environment, FaultsGiveSpecialValuesWithoutTrapping) {
  volatile double zero = 0.0, one = 1.0;
  EXPECT_EQ(one / zero, INF);
  EXPECT_EQ(-one / zero, -INF);
  EXPECT_TRUE(std::isnan(zero / zero));
  volatile long double zeroL = 0.0L, oneL = 1.0L;  // the x87 unit as well
  EXPECT_EQ(oneL / zeroL, static_cast<long double>(INF));
  EXPECT_TRUE(std::isnan(zeroL / zeroL));
  volatile double big = 1e308;
  EXPECT_EQ(big * 10.0, INF);
}

TEST(Environment, ClearFPUClearsFlagsOnly) {
  volatile double zero = 0.0;
  volatile double r = 1.0 / zero;
  (void)r;
  EXPECT_NE(std::fetestexcept(FE_DIVBYZERO), 0);
  const uint16_t cw = Get8087CW();
  ClearFPU();
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
  EXPECT_EQ(Get8087CW(), cw);
}

TEST(Environment, ERaiseThrowsTheGeneralExceptionWithTheText) {
  try {
    ERaise("Cplx: arguments can not be complex!");
    FAIL() << "ERaise returned";
  } catch (const base::Exception& e) {
    EXPECT_EQ(typeid(e), typeid(base::Exception));
    EXPECT_EQ(e.Message(), "Cplx: arguments can not be complex!");
  }
}

TEST(Environment, ClockItFormatsTheElapsedTime) {
  const double before = base::Now();
  const std::string text = ClockIt(before - 90.5 / 86400.0);
  // The elapsed time is 90.5 s plus however long this thread took to get there.
  const double took = (base::Now() - before) * 86400.0e3;
  ASSERT_EQ(text.size(), 12u) << text;
  ASSERT_EQ(text.substr(0, 6), "00:01:") << text;
  ASSERT_EQ(text[8], ':') << text;
  const int ms = std::stoi(text.substr(3, 2)) * 60000 + std::stoi(text.substr(6, 2)) * 1000 +
                 std::stoi(text.substr(9));
  EXPECT_GE(ms, 90500 - 1) << text;
  EXPECT_LE(ms, 90500 + took + 1) << text;
}

}  // namespace
}  // namespace veskmath::Math387
