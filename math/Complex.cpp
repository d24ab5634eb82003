#include "math/Complex.h"

#include <cmath>
#include <utility>

#include "math/Elementary.h"
#include "math/Utilities.h"
#include "math/X87.h"

namespace veskmath::Math387 {

using ld = long double;

namespace {
TCplx Store(ld re, ld im) { return TCplx{static_cast<double>(re), static_cast<double>(im)}; }

// Squared magnitude rounded to double, as the order compares it.
double Magnitude2(const TCplx& z) { return static_cast<double>(ld{z.Re} * z.Re + ld{z.Im} * z.Im); }

// Quadrant code 1..4 from the signs of the parts; a NaN part counts as negative.
int Quadrant(const TCplx& z) {
  const bool reNeg = NLess(z.Re, 0);
  const bool imNeg = NLess(z.Im, 0);
  if (imNeg) return reNeg ? 1 : 2;
  return reNeg ? 4 : 3;
}
}  // namespace

void Swap(TCplx& a, TCplx& b) { std::swap(a, b); }

TCplx Neg(const TCplx& z) { return TCplx{-z.Re, -z.Im}; }
TCplx Sign(const TCplx& z) { return Neg(z); }
TCplx Conj(const TCplx& z) { return TCplx{z.Re, -z.Im}; }
TCplx Flip(const TCplx& z) { return TCplx{z.Im, z.Re}; }
TCplx FlipConj(const TCplx& z) { return TCplx{z.Im, -z.Re}; }
void FlipConj(const TCplx& z, TCplx& result) { result = FlipConj(z); }
TCplx MulI(const TCplx& z) { return TCplx{-z.Im, z.Re}; }
void MulI(const TCplx& z, TCplx& result) { result = MulI(z); }

TCplx CInv(const TCplx& z) {
  const ld s = 1.0L / (ld{z.Re} * z.Re + ld{z.Im} * z.Im);
  return Store(z.Re * s, -z.Im * s);
}
void CInv(const TCplx& z, TCplx& result) { result = CInv(z); }

TCplx CSqr(const TCplx& z) { return Store(ld{z.Re} * z.Re - ld{z.Im} * z.Im, 2.0L * z.Re * z.Im); }

int32_t Sgn(const TCplx& z) {
  if (NGreater(z.Re, 0)) return 1;
  if (NLess(z.Re, 0)) return -1;  // a NaN real part counts as "less"
  if (NGreater(z.Im, 0)) return 1;
  if (NLess(z.Im, 0)) return -1;
  return 0;
}

double CAbs(const TCplx& z) {
  return static_cast<double>(sqrtl(ld{z.Im} * z.Im + ld{z.Re} * z.Re));
}
double Norm(const TCplx& z) { return static_cast<double>(ld{z.Re} * z.Re + ld{z.Im} * z.Im); }
double Arg(const TCplx& z) { return static_cast<double>(x87::ATan2(z.Im, z.Re)); }

TCplx CartToPolar(const TCplx& z) {
  return Store(sqrtl(ld{z.Re} * z.Re + ld{z.Im} * z.Im), x87::ATan2(z.Im, z.Re));
}

// ext::SinCos, not the bare instruction: from 2^63 on that hands the angle back unchanged.
TCplx PolarToCart(const TCplx& z) {
  ld s, c;
  ext::SinCos(z.Im, s, c);
  return Store(z.Re * c, z.Re * s);
}

TCplx Expj(double t) {
  ld s, c;
  ext::SinCos(t, s, c);
  return Store(c, s);
}

TCplx CAdd(const TCplx& a, const TCplx& b) { return Store(ld{a.Re} + b.Re, ld{a.Im} + b.Im); }
TCplx CAdd(const TCplx& a, double x) { return Store(ld{a.Re} + x, a.Im); }
TCplx CAdd(double x, const TCplx& a) { return Store(ld{x} + a.Re, a.Im); }
TCplx CSub(const TCplx& a, const TCplx& b) { return Store(ld{a.Re} - b.Re, ld{a.Im} - b.Im); }
TCplx CSub(const TCplx& a, double x) { return Store(ld{a.Re} - x, a.Im); }
void CSub(const TCplx& a, double x, TCplx& result) { result = CSub(a, x); }
TCplx CSub(double x, const TCplx& a) { return Store(ld{x} - a.Re, -ld{a.Im}); }
void CSub(double x, const TCplx& a, TCplx& result) { result = CSub(x, a); }

TCplx CMul(const TCplx& a, const TCplx& b) {
  return Store(ld{a.Re} * b.Re - ld{a.Im} * b.Im, ld{a.Im} * b.Re + ld{a.Re} * b.Im);
}
TCplx CMul(const TCplx& a, double x) { return Store(ld{a.Re} * x, ld{a.Im} * x); }
TCplx CMul(double x, const TCplx& a) { return CMul(a, x); }

TCplx CDiv(const TCplx& a, const TCplx& b) {
  const ld s = 1.0L / (ld{b.Re} * b.Re + ld{b.Im} * b.Im);
  return Store((ld{a.Re} * b.Re + ld{a.Im} * b.Im) * s, (ld{a.Im} * b.Re - ld{a.Re} * b.Im) * s);
}
TCplx CDiv(const TCplx& a, double x) {
  const ld r = 1.0L / x;
  return Store(a.Re * r, a.Im * r);
}
TCplx CDiv(double x, const TCplx& a) {
  const ld s = ld{x} / (ld{a.Re} * a.Re + ld{a.Im} * a.Im);
  return Store(a.Re * s, -a.Im * s);
}

TCplx CTrunc(const TCplx& z) { return TCplx{std::trunc(z.Re), std::trunc(z.Im)}; }
// frndint rounds in the mode of the x87 control word, the one SetRoundToTrunc changes;
// nearbyint on doubles would follow the SSE unit's mode and ignore it.
TCplx CRound(const TCplx& z) { return Store(x87::RoundInt(z.Re), x87::RoundInt(z.Im)); }
TCplx CFrac(const TCplx& z) { return TCplx{z.Re - std::trunc(z.Re), z.Im - std::trunc(z.Im)}; }
TCplx Ceil(const TCplx& z) {
  return TCplx{static_cast<double>(Ceil(z.Re)), static_cast<double>(Ceil(z.Im))};
}
TCplx Floor(const TCplx& z) {
  return TCplx{static_cast<double>(Floor(z.Re)), static_cast<double>(Floor(z.Im))};
}
TCplx Rem(const TCplx& a, const TCplx& b) { return CSub(a, CMul(b, CTrunc(CDiv(a, b)))); }

bool IsNan(const TCplx& z) { return IsNan(z.Re) || IsNan(z.Im); }
bool IsInf(const TCplx& z) { return IsInf(z.Re) || IsInf(z.Im); }
bool IsInfNan(const TCplx& z) { return IsInfNan(z.Re) || IsInfNan(z.Im); }
bool IsNanInf(const TCplx& z) { return IsInfNan(z); }

bool Equal(const TCplx& a, const TCplx& b) { return NEqual(a.Re, b.Re) && NEqual(a.Im, b.Im); }
bool Equal(const TCplx& a, const TCplx& b, double tol) {
  return NLessEq(fabsl(ld{a.Re} - b.Re), tol) && NLessEq(fabsl(ld{a.Im} - b.Im), tol);
}
bool Equal(const TCplx& a, double x) { return NEqual(a.Re, x) && NEqual(a.Im, 0); }
bool Equal(double x, const TCplx& a) { return Equal(a, x); }

bool Bigger2(const TCplx& a, const TCplx& b) {
  const int qa = Quadrant(a), qb = Quadrant(b);
  if (qa != qb) return qa > qb;
  if (qa <= 2) return NGreater(a.Re, b.Re);  // lower half plane: larger real part, larger phase
  return NLess(a.Re, b.Re);                  // upper half plane: smaller real part, larger phase
}
bool Smaller2(const TCplx& a, const TCplx& b) { return Bigger2(b, a); }

bool Bigger(const TCplx& a, const TCplx& b) {
  const double m1 = Magnitude2(a), m2 = Magnitude2(b);
  if (NGreater(m1, m2)) return true;
  if (!NGreaterEq(m1, m2)) return false;
  return Bigger2(a, b);
}
bool Smaller(const TCplx& a, const TCplx& b) {
  const double m1 = Magnitude2(a), m2 = Magnitude2(b);
  if (NGreater(m1, m2)) return false;
  if (!NGreaterEq(m1, m2)) return true;
  return Smaller2(a, b);
}
bool BiggerOrEqual(const TCplx& a, const TCplx& b) {
  const double m1 = Magnitude2(a), m2 = Magnitude2(b);
  if (NGreater(m1, m2)) return true;
  if (NLess(m1, m2)) return false;
  return Bigger2(a, b) || Equal(a, b);
}
bool SmallerOrEqual(const TCplx& a, const TCplx& b) {
  const double m1 = Magnitude2(a), m2 = Magnitude2(b);
  if (NLess(m1, m2)) return true;
  if (NGreater(m1, m2)) return false;
  return Smaller2(a, b) || Equal(a, b);
}

// Mixed forms: the real x takes part as (x, 0) in every step, and equality is the mixed
// Equal (x equal to the real part and a zero imaginary part), which is the same test.
bool Bigger(const TCplx& a, double x) { return Bigger(a, Cplx(x, 0)); }
bool Bigger(double x, const TCplx& a) { return Bigger(Cplx(x, 0), a); }
bool Smaller(const TCplx& a, double x) { return Smaller(a, Cplx(x, 0)); }
bool Smaller(double x, const TCplx& a) { return Smaller(Cplx(x, 0), a); }
bool BiggerOrEqual(const TCplx& a, double x) { return BiggerOrEqual(a, Cplx(x, 0)); }
bool BiggerOrEqual(double x, const TCplx& a) { return BiggerOrEqual(Cplx(x, 0), a); }
bool SmallerOrEqual(const TCplx& a, double x) { return SmallerOrEqual(a, Cplx(x, 0)); }
bool SmallerOrEqual(double x, const TCplx& a) { return SmallerOrEqual(Cplx(x, 0), a); }

TCplx Max(const TCplx& a, const TCplx& b) { return Bigger(a, b) ? a : b; }
TCplx Min(const TCplx& a, const TCplx& b) { return Smaller(a, b) ? a : b; }

}  // namespace veskmath::Math387
