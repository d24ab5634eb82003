// Exported constants of Math387: the named reals, the special values and the factorial
// table.
//
// Spelling: <cmath> defines the macros NAN and INFINITY, so the library's NaN constant is
// spelled `NaN` (the quiet NaN with the sign bit set, 0xFFF8000000000000). `INF`, `CNAN`
// and `CINF` keep their names. All values are fixed at compile time, so they are valid
// before any start-up code runs.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace veskmath::Math387 {

inline constexpr double PI = 3.141592653589793;
inline constexpr double LN2 = 0.6931471805599453;
inline constexpr double LN10 = 2.302585092994046;
inline constexpr double LNPI = 1.1447298858494002;
inline constexpr double INVLN2 = 1.4426950408889634;
inline constexpr double INVLN10 = 0.4342944819032518;
inline constexpr double TWOPI = 6.283185307179586;
inline constexpr double INVTWOPI = 0.15915494309189535;
inline constexpr double PIDIV2 = 1.5707963267948966;
inline constexpr double SQRTPI = 1.772453850905516;
inline constexpr double SQRT2PI = 2.5066282746310007;
inline constexpr double INVSQRT2PI = 0.3989422804014327;
inline constexpr double LNSQRT2PI = 0.9189385332046728;
inline constexpr double LN2PIDIV2 = 0.9189385332046728;
inline constexpr double SQRT2 = 1.4142135623730951;
inline constexpr double SQRT2DIV2 = 0.7071067811865476;
inline constexpr double GOLD = 1.618033988749895;
inline constexpr double CGOLD = 0.38196601125010515;
inline constexpr double PI180 = 0.017453292519943295;
inline constexpr double INVPI180 = 57.29577951308232;
inline constexpr double MACHEP = 2.220446049250313e-16;
inline constexpr double MINNUM = 2.225073858507202e-308;
inline constexpr double MAXLOG = 709.782712893384;
inline constexpr double MINLOG = -708.3964185322641;
inline constexpr double MAXFAC = 170;
inline constexpr double MAXGAM = 171.624376956302;
inline constexpr double MAXLGM = 2.556348e305;

// The processor's default NaN: quiet, sign bit set, rest of the mantissa zero.
inline constexpr double NaN = std::bit_cast<double>(uint64_t{0xFFF8000000000000});
inline constexpr double INF = std::numeric_limits<double>::infinity();

namespace detail {
constexpr std::array<double, 31> MakeFactorials() {
  std::array<double, 31> table{};
  long double f = 1.0L;
  table[0] = 1.0;
  for (int k = 1; k <= 30; ++k) {
    f = static_cast<long double>(static_cast<double>(f)) * k;  // entry k = k * entry k-1
    table[static_cast<std::size_t>(k)] = static_cast<double>(f);
  }
  return table;
}
}  // namespace detail

// 0! ... 30!, each computed in extended precision from the stored previous entry.
inline constexpr std::array<double, 31> FactTable = detail::MakeFactorials();

}  // namespace veskmath::Math387
