#include "math/Utilities.h"

#include <bit>
#include <limits>

#include "math/X87.h"

namespace veskmath::Math387 {

namespace {
constexpr uint64_t kExpMask = 0x7FF0000000000000ull;
constexpr uint64_t kMantMask = 0x000FFFFFFFFFFFFFull;
uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }

template <typename Int>
Int SaturateTrunc(long double t) {
  if (std::isnan(t)) return std::numeric_limits<Int>::min();
  if (t <= static_cast<long double>(std::numeric_limits<Int>::min()))
    return std::numeric_limits<Int>::min();
  if (t >= static_cast<long double>(std::numeric_limits<Int>::max()))
    return std::numeric_limits<Int>::max();
  return static_cast<Int>(t);
}
}  // namespace

bool IsNan(double x) { return (Bits(x) & kExpMask) == kExpMask && (Bits(x) & kMantMask) != 0; }
bool IsInf(double x) { return (Bits(x) & kExpMask) == kExpMask && (Bits(x) & kMantMask) == 0; }
bool IsInfNan(double x) { return (Bits(x) & kExpMask) == kExpMask; }
bool IsNanInf(double x) { return IsInfNan(x); }

bool CheckRange(double low, double value, double high) {
  return NGreaterEq(value, low) && NLessEq(value, high) && !std::isnan(value);
}
bool CheckRange(int32_t low, int32_t value, int32_t high) { return low <= value && value <= high; }

double EnsureRange(double low, double value, double high) {
  if (NLess(value, low)) return low;
  if (NGreater(value, high)) return high;
  return value;
}
int32_t EnsureRange(int32_t low, int32_t value, int32_t high) {
  return value < low ? low : (value > high ? high : value);
}
void LimitRange(double low, double& value, double high) { value = EnsureRange(low, value, high); }
void LimitRange(int32_t low, int32_t& value, int32_t high) {
  value = EnsureRange(low, value, high);
}

double Min(double a, double b) { return NGreater(a, b) ? b : a; }
double Max(double a, double b) { return NLess(a, b) ? b : a; }
int32_t Min(int32_t a, int32_t b) { return b < a ? b : a; }
int32_t Max(int32_t a, int32_t b) { return b > a ? b : a; }
void Swap(double& a, double& b) { std::swap(a, b); }
void Swap(int32_t& a, int32_t& b) { std::swap(a, b); }

int32_t Sgn(double x) {
  if (NGreater(x, 0)) return 1;
  if (NEqual(x, 0)) return 0;
  return -1;
}

double Sign(double a, double b) { return NLess(b, 0) ? -std::fabs(a) : std::fabs(a); }

bool Equal(double a, double b, double tol) {
  return NLessEq(std::fabs(static_cast<long double>(a) - b), tol);
}
bool Bigger(double a, double b, double tol) {
  return NGreater(static_cast<long double>(a) - tol, b);
}
bool Smaller(double a, double b, double tol) { return NLess(static_cast<long double>(a) + tol, b); }

int32_t TruncToInt32(long double x) { return SaturateTrunc<int32_t>(truncl(x)); }
int64_t TruncToInt64(long double x) { return SaturateTrunc<int64_t>(truncl(x)); }
// frndint rounds in the control word's mode (nearest, ties to even); nearbyintl would save
// and restore the whole floating-point environment on every call, which costs ~100 ns.
int32_t RoundToInt32(long double x) { return SaturateTrunc<int32_t>(x87::RoundInt(x)); }
int64_t RoundToInt64(long double x) { return SaturateTrunc<int64_t>(x87::RoundInt(x)); }

int32_t Ceil(double x) {
  const long double t = truncl(x);
  const int32_t n = SaturateTrunc<int32_t>(t);
  if (static_cast<long double>(x) - t > 0 && n != std::numeric_limits<int32_t>::max()) return n + 1;
  return n;
}

int32_t Floor(double x) {
  const long double t = truncl(x);
  const int32_t n = SaturateTrunc<int32_t>(t);
  if (static_cast<long double>(x) - t < 0 && n != std::numeric_limits<int32_t>::min()) return n - 1;
  return n;
}

double Rem(double x, double y) {
  const long double q = truncl(static_cast<long double>(x) / y);
  return static_cast<double>(x - y * q);
}

int32_t LargestExp2(int32_t n) {
  int32_t p = 2;
  while (p < n && p < (1 << 30)) p <<= 1;
  return p;
}

int32_t LargestLog2(int32_t n) {
  int32_t count = 0;
  while (n >= 2) {
    n /= 2;
    ++count;
  }
  return count;
}

}  // namespace veskmath::Math387
