// The processor's transcendental primitives, in extended precision.
//
// On x86 these are the x87 instructions themselves (fsin, fcos, fptan, fpatan, fyl2x,
// fyl2xp1, f2xm1 with fscale), because the library's formulas are written against their
// behaviour: fsin/fcos/fptan reduce their argument only below 2^63, fyl2xp1 is valid only
// near zero, and 2^x is formed by splitting off the rounded integer part. The long-double
// library functions would give different (better reduced) answers at exactly the places
// the formulas' documented edge behaviour depends on. Elsewhere the long-double library
// stands in.
#pragma once

#include <cmath>

namespace veskmath::Math387::x87 {

#if defined(__x86_64__) || defined(__i386__)

inline long double Sin(long double x) {
  long double r;
  asm("fsin" : "=t"(r) : "0"(x));
  return r;
}

inline long double Cos(long double x) {
  long double r;
  asm("fcos" : "=t"(r) : "0"(x));
  return r;
}

inline void SinCos(long double x, long double& s, long double& c) {
  asm("fsincos" : "=t"(c), "=u"(s) : "0"(x));
}

inline long double Tan(long double x) {
  long double one, r;
  asm("fptan" : "=t"(one), "=u"(r) : "0"(x));
  (void)one;
  return r;
}

// atan2(y, x): the angle of the point (x, y), in (-pi, pi].
inline long double ATan2(long double y, long double x) {
  long double r;
  asm("fpatan" : "=t"(r) : "0"(x), "u"(y) : "st(1)");
  return r;
}

// y * log2(x)
inline long double YLog2X(long double y, long double x) {
  long double r;
  asm("fyl2x" : "=t"(r) : "0"(x), "u"(y) : "st(1)");
  return r;
}

// y * log2(1 + x), valid for |x| < 1 - sqrt(2)/2.
inline long double YLog2XP1(long double y, long double x) {
  long double r;
  asm("fyl2xp1" : "=t"(r) : "0"(x), "u"(y) : "st(1)");
  return r;
}

// Rounds to an integral value in the current rounding mode.
inline long double RoundInt(long double x) {
  long double r;
  asm("frndint" : "=t"(r) : "0"(x));
  return r;
}

// 2^x by the split e = round(x), f = x - e: (2^f - 1 + 1) * 2^e.
inline long double Pow2(long double x) {
  const long double e = RoundInt(x);
  long double m;
  asm("f2xm1" : "=t"(m) : "0"(x - e));
  m += 1.0L;
  long double r;
  asm("fscale" : "=t"(r) : "0"(m), "u"(e));
  return r;
}

#else

inline long double Sin(long double x) { return sinl(x); }
inline long double Cos(long double x) { return cosl(x); }
inline void SinCos(long double x, long double& s, long double& c) {
  s = sinl(x);
  c = cosl(x);
}
inline long double Tan(long double x) { return tanl(x); }
inline long double ATan2(long double y, long double x) { return atan2l(y, x); }
inline long double YLog2X(long double y, long double x) { return y * log2l(x); }
inline long double YLog2XP1(long double y, long double x) { return y * log1pl(x) / logl(2.0L); }
inline long double RoundInt(long double x) { return nearbyintl(x); }
inline long double Pow2(long double x) {
  const long double e = nearbyintl(x);
  return ldexpl(exp2l(x - e), static_cast<int>(fmaxl(fminl(e, 1e6L), -1e6L)));
}

#endif

// Extended-precision constants the formulas use (the processor's own pi and logarithms).
inline constexpr long double kPi = 3.14159265358979323846264338327950288L;
inline constexpr long double kLog2E = 1.44269504088896340735992468100189214L;
inline constexpr long double kLog2T = 3.32192809488736234787031942948939018L;
inline constexpr long double kLn2 = 0.693147180559945309417232121458176568L;
inline constexpr long double kLg2 = 0.301029995663981195213738894724493027L;

}  // namespace veskmath::Math387::x87
