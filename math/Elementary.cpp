#include "math/Elementary.h"

#include <cstdint>

namespace veskmath::Math387 {

using ld = long double;

namespace ext {

long double FixAngle(long double x) {
  const ld twoPi = 2.0L * x87::kPi;
  ld turns;
#if defined(__x86_64__) || defined(__i386__)
  // The division and the truncation must both round toward zero; doing them in the same asm
  // block as the control-word switch keeps the compiler from moving them across it.
  uint16_t saved;
  asm volatile("fnstcw %0" : "=m"(saved));
  const uint16_t toZero = static_cast<uint16_t>(saved | 0x0F00);
  asm volatile(
      "fldcw %3\n\t"
      "fdiv %%st(1), %%st\n\t"
      "frndint\n\t"
      "fldcw %4"
      : "=t"(turns)
      : "0"(x), "u"(twoPi), "m"(toZero), "m"(saved));
#else
  turns = truncl(x / twoPi);
#endif
  return x - twoPi * turns;
}

}  // namespace ext

namespace {

TCplx Store(ld re, ld im) { return TCplx{static_cast<double>(re), static_cast<double>(im)}; }

// A complex value carried in extended precision between steps of one routine.
struct XCplx {
  ld re;
  ld im;
};

TCplx Store(const XCplx& z) { return Store(z.re, z.im); }

XCplx XDiv(const XCplx& a, const XCplx& b) {
  const ld s = 1.0L / (b.re * b.re + b.im * b.im);
  return XCplx{(a.re * b.re + a.im * b.im) * s, (a.im * b.re - a.re * b.im) * s};
}

// e^t * (cos u, sin u).
XCplx ExpTimesExpj(ld t, ld u) {
  const ld e = ext::Exp(t);
  ld s, c;
  ext::SinCos(u, s, c);
  return XCplx{e * c, e * s};
}

// The logarithm as (1/2 ln(x^2 + y^2), atan2(y, x)).
XCplx LnHalf(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  return XCplx{0.5L * ext::Ln(x * x + y * y), x87::ATan2(y, x)};
}

// Hyperbolic pair from one exponential e = e^t: cosh = e/2 + 1/(2e), sinh = e/2 - 1/(2e).
void HalfPair(ld t, ld& sinhT, ld& coshT) {
  const ld e = ext::Exp(t);
  const ld half = e / 2.0L, invHalf = 1.0L / (2.0L * e);
  sinhT = half - invHalf;
  coshT = half + invHalf;
}

// Beyond this, the doubled argument of the tangent family overflows even the extended
// exponential (inf/inf); the hyperbolic ratio there is +-1 and the other part far below the
// smallest double, which the clamped argument reproduces.
constexpr ld kDoubledLimit = 11000.0L;
ld ClampDoubled(ld t) {
  if (fabsl(t) > kDoubledLimit) return t > 0 ? kDoubledLimit : -kDoubledLimit;
  return t;
}

// Hyperbolic pair from E = e^(2t): cosh 2t = (E + 1/E)/2, sinh 2t = (E - 1/E)/2.
void DoubledPair(ld t2, ld& sinh2, ld& cosh2) {
  const ld e = ext::Exp(ClampDoubled(t2));
  const ld inv = 1.0L / e;
  sinh2 = (e - inv) / 2.0L;
  cosh2 = (e + inv) / 2.0L;
}

XCplx XSqrt(ld x, ld y) {
  const ld c = ext::Sqrt((ext::Sqrt(x * x + y * y) + fabsl(x)) * 0.5L);
  // Only z = 0 gives c = 0 (the squares cannot underflow in extended precision); the
  // division below would then be 0/0.
  if (c == 0.0L) return XCplx{0.0L, 0.0L};
  const ld d = y * 0.5L / c;
  if (NGreaterEq(x, 0.0L)) return XCplx{c, d};
  if (NGreaterEq(y, 0.0L)) return XCplx{fabsl(d), c};
  return XCplx{fabsl(d), -c};
}

// (w.Im, pi/2 - w.Re): i*(pi/2 - w), the step from an arc sine to an inverse cosh.
TCplx QuarterTurn(const TCplx& w) { return Store(w.Im, PIDIV2 - static_cast<ld>(w.Re)); }

// i/z formed as (y, x)/(x^2 + y^2).
TCplx IOver(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld n = x * x + y * y;
  return Store(y / n, x / n);
}

}  // namespace

// --- exponentials, logarithms, powers ---------------------------------------------------------

TCplx Exp(const TCplx& z) { return Store(ExpTimesExpj(z.Re, z.Im)); }

TCplx Exp2(const TCplx& z) { return Store(ExpTimesExpj(x87::kLn2 * z.Re, x87::kLn2 * z.Im)); }

TCplx Exp10(const TCplx& z) {
  constexpr ld kLn10 = 2.30258509299404568401799145468436421L;
  return Store(ExpTimesExpj(kLn10 * z.Re, kLn10 * z.Im));
}

TCplx Ln(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  return Store(ext::Ln(ext::Sqrt(x * x + y * y)), x87::ATan2(y, x));
}

TCplx Log10(const TCplx& z) {
  const XCplx l = LnHalf(z);
  return Store(l.re * INVLN10, l.im * INVLN10);
}

TCplx Log2(const TCplx& z) {
  const XCplx l = LnHalf(z);
  return Store(l.re * INVLN2, l.im * INVLN2);
}

TCplx LogN(double N, const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld lnN = ext::Ln(N);
  return Store(ext::Ln(ext::Sqrt(x * x + y * y)) / lnN, x87::ATan2(y, x) / lnN);
}

TCplx LogN(const TCplx& B, double X) {
  const ld x = B.Re, y = B.Im;
  const ld lr = ext::Ln(ext::Sqrt(x * x + y * y)), li = x87::ATan2(y, x);
  const ld s = ext::Ln(X) / (lr * lr + li * li);  // ln X times the reciprocal of Ln(B)
  return Store(lr * s, -li * s);
}

TCplx LogN(const TCplx& B, const TCplx& Z) {
  const ld bx = B.Re, by = B.Im, zx = Z.Re, zy = Z.Im;
  const XCplx lb{ext::Ln(ext::Sqrt(bx * bx + by * by)), x87::ATan2(by, bx)};
  const XCplx lz{ext::Ln(ext::Sqrt(zx * zx + zy * zy)), x87::ATan2(zy, zx)};
  return Store(XDiv(lz, lb));
}

TCplx Power(double Base, const TCplx& z) {
  const ld l = ext::Ln(Base);
  return Store(ExpTimesExpj(l * z.Re, l * z.Im));
}

TCplx Power(const TCplx& z, double p) {
  const XCplx l = LnHalf(z);
  return Store(ExpTimesExpj(p * l.re, p * l.im));
}

TCplx Power(const TCplx& A, const TCplx& B) {
  const XCplx l = LnHalf(A);
  const ld re = B.Re * l.re - B.Im * l.im;
  const ld im = B.Im * l.re + B.Re * l.im;
  return Store(ExpTimesExpj(re, im));
}

TCplx IntPower(const TCplx& z, int32_t n) {
  if (n == 0) return C_ONE;
  const ld x = z.Re, y = z.Im;
  const ld r = ext::IntPower(ext::Sqrt(x * x + y * y), n);
  ld s, c;
  ext::SinCos(static_cast<ld>(n) * x87::ATan2(y, x), s, c);
  return Store(r * c, r * s);
}

TCplx Root(const TCplx& z, int32_t k, int32_t n) {
  const ld x = z.Re, y = z.Im;
  const ld r = ext::Sqrt(x * x + y * y), t = x87::ATan2(y, x);
  const ld radius = x87::Pow2(x87::YLog2X(1.0L / n, r));  // Power(r, 1/n)
  const ld angle = ext::FixAngle((t + static_cast<ld>(TWOPI) * k) / n);
  ld s, c;
  ext::SinCos(angle, s, c);
  return Store(radius * c, radius * s);
}

TCplx Pythag(const TCplx& A, const TCplx& B) {
  const ld ax = A.Re, ay = A.Im, bx = B.Re, by = B.Im;
  return Store(XSqrt(ax * ax - ay * ay + (bx * bx - by * by), 2.0L * ax * ay + 2.0L * bx * by));
}

// Root of the larger-magnitude combination first, the other part by division, the branch
// with a non-negative real part; CSqrt(-4, -0.0) is (0, 2) as a zero y counts as positive.
TCplx CSqrt(const TCplx& z) { return Store(XSqrt(z.Re, z.Im)); }

// --- trigonometric and hyperbolic -------------------------------------------------------------

TCplx Sin(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Re, s, c);
  HalfPair(z.Im, sh, ch);
  return Store(s * ch, c * sh);
}
void Sin(const TCplx& z, TCplx& Result) { Result = Sin(z); }

TCplx Cos(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Re, s, c);
  HalfPair(z.Im, sh, ch);
  return Store(c * ch, -(s * sh));
}
void Cos(const TCplx& z, TCplx& Result) { Result = Cos(z); }

TCplx Tan(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Re, s, c);
  DoubledPair(2.0L * z.Im, sh, ch);
  const ld d = c + ch;
  return Store(s / d, sh / d);
}

TCplx Cot(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Re, s, c);
  DoubledPair(2.0L * z.Im, sh, ch);
  const ld d = ch - c;
  return Store(s / d, -sh / d);
}

TCplx Sec(const TCplx& z) { return CInv(Cos(z)); }
TCplx Csc(const TCplx& z) { return CInv(Sin(z)); }

TCplx Sinh(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Im, s, c);
  HalfPair(z.Re, sh, ch);
  return Store(sh * c, ch * s);
}
void Sinh(const TCplx& z, TCplx& Result) { Result = Sinh(z); }

TCplx Cosh(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(z.Im, s, c);
  HalfPair(z.Re, sh, ch);
  return Store(ch * c, sh * s);
}
void Cosh(const TCplx& z, TCplx& Result) { Result = Cosh(z); }

TCplx Tanh(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Im, s, c);
  DoubledPair(2.0L * z.Re, sh, ch);
  const ld d = ch + c;
  return Store(sh / d, s / d);
}

TCplx Coth(const TCplx& z) {
  ld s, c, sh, ch;
  ext::SinCos(2.0L * z.Im, s, c);
  DoubledPair(2.0L * z.Re, sh, ch);
  const ld d = ch - c;
  return Store(sh / d, -s / d);
}

TCplx Sech(const TCplx& z) { return CInv(Cosh(z)); }
TCplx Csch(const TCplx& z) { return CInv(Sinh(z)); }

// --- inverse functions ------------------------------------------------------------------------

// Through A = |z + 1|/2 and B = |z - 1|/2: the real part is the arc sine of A - B, the
// imaginary part ln(a + sqrt(a^2 - 1)) of a = A + B, signed by y (a zero y counts as
// positive, except at x = 0 where the value is 0 anyway).
TCplx ArcSin(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld s = x * x + y * y + 1.0L;
  const ld a = 0.5L * ext::Sqrt(s + 2.0L * x);
  const ld b = 0.5L * ext::Sqrt(s - 2.0L * x);
  const ld beta = a - b, alpha = a + b;
  // On the real axis beta is x (or +-1) and alpha is 1 (or |x|), and rounding can put beta
  // just beyond +-1 or alpha just below 1 ((-1.9058014960439977, 0), (0.769230769230769, 0)):
  // those square roots then take 0 instead of a negative number, whose root is NaN. A NaN
  // stays NaN (the comparison is false).
  const auto notNegative = [](ld v) { return v < 0.0L ? 0.0L : v; };
  const ld re = x87::ATan2(beta, ext::Sqrt(notNegative(1.0L - beta * beta)));
  const ld l = ext::Ln(alpha + ext::Sqrt(notNegative(alpha * alpha - 1.0L)));
  ld im;
  if (NGreater(y, 0.0L)) {
    im = l;
  } else if (NLess(y, 0.0L)) {
    im = -l;
  } else {
    im = NNotEqual(x, 0.0L) ? l : 0.0L;
  }
  return Store(re, im);
}

TCplx ArcCos(const TCplx& z) { return CSub(PIDIV2, ArcSin(z)); }

TCplx ArcTan(const TCplx& z) {
  const ld x = z.Re, y = z.Im;
  const ld x2 = x * x;
  const ld re = 0.5L * x87::ATan2(2.0L * x, 1.0L - x2 - y * y);
  const ld yp = y + 1.0L, ym = y - 1.0L;
  const ld im = 0.25L * ext::Ln((x2 + yp * yp) / (x2 + ym * ym));
  return Store(re, im);
}

TCplx ArcSinh(const TCplx& z) { return FlipConj(ArcSin(MulI(z))); }
TCplx ArcCosh(const TCplx& z) { return QuarterTurn(ArcSin(z)); }
TCplx ArcTanh(const TCplx& z) { return FlipConj(ArcTan(MulI(z))); }
TCplx ArcSec(const TCplx& z) { return CSub(PIDIV2, ArcSin(CInv(z))); }
TCplx ArcCsc(const TCplx& z) { return ArcSin(CInv(z)); }
TCplx ArcCot(const TCplx& z) { return ArcTan(CInv(z)); }
TCplx ArcSech(const TCplx& z) { return QuarterTurn(ArcSin(CInv(z))); }
TCplx ArcCsch(const TCplx& z) { return FlipConj(ArcSin(IOver(z))); }
TCplx ArcCoth(const TCplx& z) { return FlipConj(ArcTan(IOver(z))); }

}  // namespace veskmath::Math387
