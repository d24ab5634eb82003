// Elementary functions of Math387: trigonometric, hyperbolic and their inverses,
// exponentials and logarithms to several bases, powers and roots, angle conversion, for
// real (double) and complex (TCplx) arguments.
//
// None of these checks its domain or raises: they are direct formulas evaluated in
// extended precision, so outside the domain they answer NaN, at a pole an infinity, on
// overflow INF. Inside the formulas e^t is 2^(t*log2 e) through the split 2^x primitive,
// which neither overflows nor loses accuracy for results inside the double range.
//
// Return type: the real functions answer `double`. The value is formed in extended
// precision and rounded once, on return, which is exactly what a caller storing the result
// would get; callers that need to keep chaining in extended precision (the special
// functions) use the `ext` forms below, which take and answer `long double`.
//
// Speed: the expression engine calls the real functions on its evaluation hot path, so they
// are inline. Those that are one transcendental primitive followed by the rounding to double
// (Sin, Cos, Tan, SinCos, ArcTan, ArcTan2, ArcCot, Exp, Exp2, Ln, Log2, Log10, and Power of a
// positive base) call the C library's double function: the same value to within that final
// rounding, but three to seven times faster than the microcoded x87 instruction. The
// composite formulas (Sec, Csc, Cot, the arc sines and cosines, the hyperbolic functions and
// their inverses, Exp10, Ln1, Log2X, LogN, the complex and the special functions) keep their
// extended-precision evaluation on the x87 primitives, with the weak spots of those formulas.
//
// Large trigonometric arguments: the real Sin, Cos and Tan reduce exactly at every magnitude
// (sin(PI) is the true 1.2246467991473532e-16). The x87 sine, cosine and tangent used by the
// composite formulas reduce by a 66-bit pi, and only below 2^63: above, the instruction would
// hand the argument back unchanged (fsin(1e20) = 1e20). From 2^63 on the `ext` forms use the C
// library's long-double functions, which reduce exactly; infinities give NaN.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "math/Complex.h"
#include "math/Constants.h"
#include "math/Utilities.h"
#include "math/X87.h"

namespace veskmath::Math387 {

// --- extended-precision forms -----------------------------------------------------------------
// The same formulas as the public functions, answering the unrounded extended value.
namespace ext {

inline long double Sqrt(long double x) {
#if defined(__x86_64__) || defined(__i386__)
  long double r;
  asm("fsqrt" : "=t"(r) : "0"(x));
  return r;
#else
  return sqrtl(x);
#endif
}

// Below this magnitude the processor reduces trigonometric arguments itself.
inline constexpr long double kTrigLimit = 0x1p63L;

inline long double Sin(long double x) {
  if (fabsl(x) < kTrigLimit) [[likely]]
    return x87::Sin(x);
  return sinl(x);
}

inline long double Cos(long double x) {
  if (fabsl(x) < kTrigLimit) [[likely]]
    return x87::Cos(x);
  return cosl(x);
}

inline void SinCos(long double x, long double& s, long double& c) {
  if (fabsl(x) < kTrigLimit) [[likely]] {
    x87::SinCos(x, s, c);
  } else {
    s = sinl(x);
    c = cosl(x);
  }
}

inline long double Tan(long double x) {
  if (fabsl(x) < kTrigLimit) [[likely]]
    return x87::Tan(x);
  return tanl(x);
}

// 2^x through the split primitive. The split forms x - round(x), which is inf - inf = NaN
// for an infinite x; the exponentials answer the limits there instead (2^-inf = 0,
// 2^inf = inf). The real Power keeps the formula's NaN, so Power(0, y) stays NaN.
inline long double Exp2(long double x) {
  if (fabsl(x) == HUGE_VALL) [[unlikely]]
    return x > 0 ? x : 0.0L;
  return x87::Pow2(x);
}

// e^t = 2^(t*log2 e).
inline long double Exp(long double t) { return Exp2(t * x87::kLog2E); }
inline long double Ln(long double x) { return x87::YLog2X(x87::kLn2, x); }
inline long double Log2(long double x) { return x87::YLog2X(1.0L, x); }

// sinh and cosh from one exponential e = e^x.
inline void SinhCosh(long double x, long double& s, long double& c) {
  const long double e = Exp(x);
  const long double inv = 1.0L / e;
  s = (e - inv) / 2.0L;
  c = (e + inv) / 2.0L;
}

// X - 2pi*trunc(X/2pi) with the processor's 2pi, the division and truncation rounded toward
// zero.
long double FixAngle(long double x);

}  // namespace ext

// --- real trigonometric functions -------------------------------------------------------------
inline double Sin(double X) { return std::sin(X); }
inline double Cos(double X) { return std::cos(X); }
inline double Tan(double X) { return std::tan(X); }
inline void SinCos(double X, double& S, double& C) {
  S = std::sin(X);
  C = std::cos(X);
}
inline double Sec(double X) { return static_cast<double>(1.0L / ext::Cos(X)); }
inline double Csc(double X) { return static_cast<double>(1.0L / ext::Sin(X)); }
// Near odd multiples of pi/2 the double argument is never the pole itself: Tan answers a
// large finite value and Cot a tiny one.
inline double Cot(double X) { return static_cast<double>(1.0L / ext::Tan(X)); }

inline double ArcSin(double X) {
  const long double x = X;
  return static_cast<double>(x87::ATan2(x, ext::Sqrt(1.0L - x * x)));
}
inline double ArcCos(double X) {
  const long double x = X;
  return static_cast<double>(x87::ATan2(ext::Sqrt(1.0L - x * x), x));
}
inline double ArcTan(double X) { return std::atan(X); }
// The first argument is the ordinate: ArcTan2(0, -1) is pi.
inline double ArcTan2(double Y, double X) { return std::atan2(Y, X); }
// Values in (0, pi): ArcCot(-1) is 3pi/4.
inline double ArcCot(double X) { return std::atan2(1.0, X); }
inline double ArcSec(double X) {
  const long double r = 1.0L / X;
  return static_cast<double>(x87::ATan2(ext::Sqrt(1.0L - r * r), r));
}
inline double ArcCsc(double X) {
  const long double r = 1.0L / X;
  return static_cast<double>(x87::ATan2(r, ext::Sqrt(1.0L - r * r)));
}

// --- real hyperbolic functions ----------------------------------------------------------------
// Each is a formula on e = e^X in extended precision (namespace formula): sinh (e - 1/e)/2,
// cosh (e + 1/e)/2, tanh (e - 1/e)/(e + 1/e), coth its inverse, sech 2e/(e^2 + 1), csch
// 2e/(e^2 - 1). The difference e - 1/e loses relative accuracy for arguments near 0
// (Sinh(1e-10) keeps about nine digits); the formulas are kept as they are. The functions
// answer the formulas' own bits, most arguments several times faster (Hyperbolic.cpp): the
// namespace fast holds that path alone, which answers nothing where it cannot decide.
//
// From |X| > 64 on, (e - 1/e)/(e + 1/e) is exactly +-1 in extended precision, and past about
// 11356 e overflows even the extended range so that the quotient would be inf/inf = NaN.
// The limits are answered directly there: Tanh and Coth give +-1, Sech and Csch a zero.
inline constexpr double kHyperbolicLimit = 64.0;
// Past 1000 the true values lie far below the smallest double.
inline constexpr double kHyperbolicZero = 1000.0;

double Sinh(double X);
double Cosh(double X);
void SinhCosh(double X, double& S, double& C);
double Tanh(double X);
double Coth(double X);
double Sech(double X);
double Csch(double X);
// Sinh and cosh stored as doubles first: NaN once sinh overflows (|X| > ~710), where Tanh
// still answers +-1.
inline double TanhX(double X) {
  double s, c;
  SinhCosh(X, s, c);
  return static_cast<double>(static_cast<long double>(s) / c);
}

namespace formula {
double Sinh(double X);
double Cosh(double X);
double Tanh(double X);
double Coth(double X);
double Sech(double X);
double Csch(double X);
}  // namespace formula

namespace fast {
std::optional<double> Sinh(double X);
std::optional<double> Cosh(double X);
std::optional<double> Tanh(double X);
std::optional<double> Coth(double X);
std::optional<double> Sech(double X);
std::optional<double> Csch(double X);
}  // namespace fast

// The logarithm of a difference loses accuracy where X + sqrt(X^2 + 1) cancels (large
// negative X); kept as the formula stands.
inline double ArcSinh(double X) {
  const long double x = X;
  return static_cast<double>(ext::Ln(x + ext::Sqrt(x * x + 1.0L)));
}
inline double ArcCosh(double X) {
  const long double x = X;
  return static_cast<double>(ext::Ln(x + ext::Sqrt(x * x - 1.0L)));
}
inline double ArcTanh(double X) {
  const long double x = X;
  return static_cast<double>(ext::Ln((1.0L + x) / (1.0L - x)) / 2.0L);
}
inline double ArcSech(double X) {
  const long double r = 1.0L / X;
  return static_cast<double>(ext::Ln(r + ext::Sqrt(r * r - 1.0L)));
}
inline double ArcCsch(double X) {
  const long double r = 1.0L / X;
  return static_cast<double>(ext::Ln(r + ext::Sqrt(r * r + 1.0L)));
}
inline double ArcCoth(double X) {
  const long double x = X;
  return static_cast<double>(ext::Ln((x + 1.0L) / (x - 1.0L)) * 0.5L);
}

// --- exponentials and logarithms --------------------------------------------------------------
inline double Exp(double X) { return std::exp(X); }
inline double Exp2(double X) { return std::exp2(X); }
inline double Exp10(double X) { return static_cast<double>(ext::Exp2(X * x87::kLog2T)); }

inline double Ln(double X) { return std::log(X); }
// ln(1 + X) through the processor's log2(1 + x), which is defined for
// |X| < 1 - sqrt(2)/2 only. Outside that range 1 + X is exact in extended precision, so the
// plain logarithm of it is taken instead: Ln1(-1) is -INF, below -1 NaN.
inline constexpr long double kLn1Limit = 0.29289321881345247559915563789515096L;
inline double Ln1(double X) {
  if (fabs(X) < kLn1Limit) return static_cast<double>(x87::YLog2XP1(x87::kLn2, X));
  return static_cast<double>(ext::Ln(1.0L + X));
}
inline double Log2(double X) { return std::log2(X); }
// Accurate near 1: log2(1 + (X - 1)) by the log2(1 + x) primitive when |X - 1| < 0.1.
inline double Log2X(double X) {
  const long double d = static_cast<long double>(X) - 1.0L;
  if (NLess(fabsl(d), 0.1L)) return static_cast<double>(x87::YLog2XP1(1.0L, d));
  return static_cast<double>(ext::Log2(X));
}
inline double Log10(double X) { return std::log10(X); }
// The first argument is the base: LogN(2, 8) is 3.
inline double LogN(double N, double X) { return static_cast<double>(ext::Ln(X) / ext::Ln(N)); }

// 2^(Exponent*log2(Base)) with no special cases. The product is finite exactly when Base is
// positive and finite and Exponent is finite, and then the value is Base^Exponent, which the
// C library's pow computes. In every other case the formula forms 2^(+-inf) or 2^NaN, where
// the split answers NaN: a zero or negative base (Power(0, 2), Power(-2, 2),
// Power(-8, 1/3)), an infinite base or exponent (Power(1, INF)).
inline double Power(double Base, double Exponent) {
  if (Base > 0.0 && Base < INF && std::isfinite(Exponent)) [[likely]]
    return std::pow(Base, Exponent);
  return NaN;
}

namespace ext {
// Base^|N| by repeated squaring from the lowest bit of |N| (kept in a local, as unsigned so
// that |INT32_MIN| is representable), reciprocal for N < 0.
inline long double IntPower(long double base, int32_t n) {
  uint32_t bits = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  long double result = 1.0L, p = base;
  while (bits != 0) {
    if (bits & 1u) result *= p;
    bits >>= 1;
    if (bits != 0) p *= p;
  }
  return n < 0 ? 1.0L / result : result;
}
}  // namespace ext

inline double IntPower(double Base, int32_t N) {
  return static_cast<double>(ext::IntPower(Base, N));
}

// a*sqrt(1 + (b/a)^2) with a the larger magnitude: no overflow for large arguments. A NaN
// operand answers NaN (IEEE comparisons here: under the library's NaN rule a NaN smaller
// operand would count as zero and the other operand would be answered).
inline double Pythag(double X, double Y) {
  long double a = fabsl(X), b = fabsl(Y);
  if (b > a) {
    const long double t = a;
    a = b;
    b = t;
  }
  if (b == 0.0L) return static_cast<double>(a);
  const long double q = b / a;
  return static_cast<double>(a * ext::Sqrt(1.0L + q * q));
}

// Removes whole turns toward zero: the result keeps the sign of X. FixAngle(TWOPI) is TWOPI
// itself, since the double lies just below the processor's 2pi.
inline double FixAngle(double X) { return static_cast<double>(ext::FixAngle(X)); }

inline double DegToRad(double X) {
  return static_cast<double>(static_cast<long double>(X) * PI180);
}
inline double RadToDeg(double X) {
  return static_cast<double>(static_cast<long double>(X) * INVPI180);
}

// --- complex exponentials, logarithms and powers ----------------------------------------------
TCplx Exp(const TCplx& z);
TCplx Exp2(const TCplx& z);
TCplx Exp10(const TCplx& z);
TCplx Ln(const TCplx& z);
TCplx Log10(const TCplx& z);
TCplx Log2(const TCplx& z);
TCplx LogN(double N, const TCplx& z);              // Ln(z) / ln N
TCplx LogN(const TCplx& B, double X);              // ln X / Ln(B)
TCplx LogN(const TCplx& B, const TCplx& Z);        // Ln(Z) / Ln(B)
TCplx Power(double Base, const TCplx& z);          // real base, complex exponent
TCplx Power(const TCplx& z, double p);             // complex base, real exponent
TCplx Power(const TCplx& A, const TCplx& B);       // Exp(B * Ln(A))
TCplx IntPower(const TCplx& z, int32_t n);         // |z|^n * (cos nt, sin nt)
TCplx Root(const TCplx& z, int32_t k, int32_t n);  // the k-th of the n-th roots
TCplx Pythag(const TCplx& A, const TCplx& B);      // CSqrt(A^2 + B^2)
TCplx CSqrt(const TCplx& z);                       // principal root: real part >= 0

// --- complex trigonometric and hyperbolic functions -------------------------------------------
// The procedure forms write into Result, which may be z itself.
TCplx Sin(const TCplx& z);
void Sin(const TCplx& z, TCplx& Result);
TCplx Cos(const TCplx& z);
void Cos(const TCplx& z, TCplx& Result);
TCplx Tan(const TCplx& z);
TCplx Cot(const TCplx& z);
TCplx Sec(const TCplx& z);
TCplx Csc(const TCplx& z);
TCplx Sinh(const TCplx& z);
void Sinh(const TCplx& z, TCplx& Result);
TCplx Cosh(const TCplx& z);
void Cosh(const TCplx& z, TCplx& Result);
TCplx Tanh(const TCplx& z);
TCplx Coth(const TCplx& z);
TCplx Sech(const TCplx& z);
TCplx Csch(const TCplx& z);

// --- complex inverse functions ----------------------------------------------------------------
TCplx ArcSin(const TCplx& z);
TCplx ArcCos(const TCplx& z);
TCplx ArcTan(const TCplx& z);
TCplx ArcSinh(const TCplx& z);
TCplx ArcCosh(const TCplx& z);
TCplx ArcTanh(const TCplx& z);
TCplx ArcSec(const TCplx& z);
TCplx ArcCsc(const TCplx& z);
TCplx ArcCot(const TCplx& z);
TCplx ArcSech(const TCplx& z);
TCplx ArcCsch(const TCplx& z);
TCplx ArcCoth(const TCplx& z);

}  // namespace veskmath::Math387
