#include "math/Special.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "math/Constants.h"
#include "math/Elementary.h"
#include "math/Utilities.h"

namespace veskmath::Math387 {

using ld = long double;

namespace {

// A value stored into a double variable.
inline double D(ld x) { return static_cast<double>(x); }

// Horner's rule from the highest power down; every step (multiply by the variable, add the
// next coefficient) is formed in extended precision and stored as a double.
template <std::size_t N>
double Horner(const std::array<double, N>& c, double x) {
  double r = c[0];
  for (std::size_t i = 1; i < N; ++i) r = D(static_cast<ld>(r) * x + c[i]);
  return r;
}

// The same for a polynomial with leading coefficient 1 that the table leaves out.
template <std::size_t N>
double HornerMonic(const std::array<double, N>& c, double x) {
  double r = 1.0;
  for (std::size_t i = 0; i < N; ++i) r = D(static_cast<ld>(r) * x + c[i]);
  return r;
}

bool IsPole(double x) { return x == 0.0 || (x < 0.0 && x == std::trunc(x)); }

// Stirling correction for 13 < x <= 1024, variable w = 1/x: the series is 1 + w*ST(w).
constexpr std::array<double, 9> ST = {
    7.147391378143610943E-04,  -2.363848809501758910E-05, -5.950237554056329826E-04,
    6.989332260623193338E-05,  7.840334842744752907E-04,  -2.294719747873185441E-04,
    -2.681327161876304304E-03, 3.472222222230075123E-03,  8.333333333333331483E-02};

// Stirling correction for x > 1024, same use.
constexpr std::array<double, 6> STL = {6.972813758365857106E-05,  7.840392217200666154E-04,
                                       -2.294720936213991678E-04, -2.681327160493827272E-03,
                                       3.472222222222222029E-03,  8.333333333333332871E-02};

// Gamma(x) for x > 13: e^((x - 0.5) ln x - x) * sqrt(2 pi) * (1 + w*ST(w)). The exponential
// stays in extended precision, whose range holds it, so nothing needs splitting.
double Stirling(double x) {
  const double w = D(1.0L / x);
  const ld y = ext::Exp(D((x - 0.5L) * ext::Ln(x) - x));
  const double series = x > 1024.0 ? Horner(STL, w) : Horner(ST, w);
  const double s = D(1.0L + static_cast<ld>(w) * series);
  return D(y * SQRT2PI * s);
}

// Log-gamma Stirling correction, variable p = 1/x^2; the correction is LA(p)/x.
constexpr std::array<double, 7> LA = {4.885026142432270617E-03, -1.880801938119376973E-03,
                                      8.412723297322497558E-04, -5.952345851765688091E-04,
                                      7.936507795855070628E-04, -2.777777777750349737E-03,
                                      8.333333333333331483E-02};

double LogStirling(double x) {
  double q = D((x - 0.5L) * ext::Ln(x) - x);
  q = D(static_cast<ld>(q) + LNSQRT2PI);
  if (x > 1e10) return q;
  const double p = D(1.0L / (static_cast<ld>(x) * x));
  return D(q + static_cast<ld>(Horner(LA, p)) / x);
}

// 1/Gamma(x) near zero: x*S-P(x) for small positive x, u*S-N(u) with u = -x for small
// negative x.
constexpr std::array<double, 9> SP = {
    -1.193945051381510017E-03, 7.220599478036909824E-03, -9.622023360406271181E-03,
    -4.219773360705915410E-02, 1.665386113720805084E-01, -4.200263503403343923E-02,
    -6.558780715202540135E-01, 5.772156649015328656E-01, 1};
constexpr std::array<double, 9> SN = {
    1.133374167243894441E-03,  7.220837261893170260E-03,  9.621911155035977464E-03,
    -4.219773343731191700E-02, -1.665386113944413438E-01, -4.200263503402112963E-02,
    6.558780715202536804E-01,  5.772156649015328656E-01,  -1};

// x*S(x) with the series for the sign of x (|x| <= 0.03125).
ld SmallReciprocal(double x) {
  if (x >= 0.0) return static_cast<ld>(x) * Horner(SP, x);
  const double u = -x;
  return static_cast<ld>(u) * Horner(SN, u);
}

}  // namespace

int32_t SgnGamma(double X) {
  if (NGreater(X, 0.0)) return 1;
  const double n = std::trunc(std::fabs(X));
  return std::fmod(n, 2.0) == 0.0 ? -1 : 1;
}

// Gamma on [2, 3): G-P(t)/G-Q(t) with t = x - 2.
constexpr std::array<double, 8> GP = {4.212760487471621735E-05, 4.542931960608009314E-04,
                                      4.092666828394035672E-03, 2.385363243461108285E-02,
                                      1.113062816019361606E-01, 3.629515436640239345E-01,
                                      8.378004301573126478E-01, 1};
constexpr std::array<double, 9> GQ = {
    -1.397148517476170516E-05, 2.346584059160635133E-04, -1.237799246653152260E-03,
    -7.955933682494738127E-04, 2.773706565840073149E-02, -4.633887671244533990E-02,
    -2.243510905670329236E-01, 4.150160950588455688E-01, 1};

// A NaN argument answers NaN: under the library's NaN rule it would pass the pole test
// (NaN counts as equal to 0) and answer an infinity.
double Gamma(double X) {
  if (std::isnan(X)) return X;
  const int32_t s = SgnGamma(X);
  if (IsPole(X)) return s * INF;  // Gamma(0) = -INF, Gamma(-1) = +INF, Gamma(-2) = -INF
  const double q = std::fabs(X);
  if (q > 13.0) {
    if (X > 0.0) return s * Stirling(X);
    // Reflection: Gamma(X) = pi / (q sin(pi z) Gamma(q)), z the distance to the nearest
    // integer.
    const double n = std::trunc(q);
    double z = q - n;
    if (z > 0.5) z = q - (n + 1.0);
    const ld sinPart = fabsl(q * ext::Sin(static_cast<ld>(PI) * z));
    return D(s * static_cast<ld>(PI) / (sinPart * Stirling(q)));
  }
  // Recurrence into [2, 3) with the running product r; Gamma(5) is 4*3*2 exactly.
  double x = X, r = 1.0;
  while (x >= 3.0) {
    x = x - 1.0;
    r = D(static_cast<ld>(r) * x);
  }
  while (x < -0.03125) {
    r = D(static_cast<ld>(r) / x);
    x = D(static_cast<ld>(x) + 1.0L);
  }
  if (x <= 0.03125) return D(r / SmallReciprocal(x));
  while (x < 2.0) {
    r = D(static_cast<ld>(r) / x);
    x = D(static_cast<ld>(x) + 1.0L);
  }
  if (x == 2.0 || x == 3.0) return r;
  const double t = x - 2.0;
  return D(static_cast<ld>(r) * Horner(GP, t) / Horner(GQ, t));
}

// Log-gamma on [2, 3): ln r + t*LB(t)/LC(t), t = x - 2; LB's last entry is the constant term,
// LC is monic of degree 7.
constexpr std::array<double, 7> LB = {-2.163690827643813009E+03, -8.723871522843511775E+04,
                                      -1.104326814691464184E+06, -6.111225012005214579E+06,
                                      -1.625568062543700635E+07, -2.003937418103815243E+07,
                                      -8.875666783650703728E+06};
constexpr std::array<double, 7> LC = {-5.139481484435369794E+02, -3.403570840534304443E+04,
                                      -6.227441164066219935E+05, -4.814940379411881790E+06,
                                      -1.785433287045077980E+07, -3.138646407656182721E+07,
                                      -2.099336717757895961E+07};

double LnGamma(double X) {
  if (std::isnan(X)) return X;
  if (IsPole(X)) return -INF;
  if (X > MAXLGM) return INF;
  const double q = std::fabs(X);
  if (q > 34.0) {
    if (X > 0.0) return LogStirling(X);
    const double n = std::trunc(q);
    double z = q - n;
    if (z > 0.5) z = (n + 1.0) - q;
    const ld sinPart = q * ext::Sin(ext::FixAngle(static_cast<ld>(PI) * z));
    return D(LNPI - ext::Ln(sinPart) - LogStirling(q));
  }
  if (X >= 13.0) return LogStirling(X);
  double x = X, r = 1.0;
  while (x >= 3.0) {
    x = x - 1.0;
    r = D(static_cast<ld>(r) * x);
  }
  while (x < 2.0) {
    if (std::fabs(x) <= 0.03125) return D(ext::Ln(fabsl(r / SmallReciprocal(x))));
    r = D(static_cast<ld>(r) / x);
    x = D(static_cast<ld>(x) + 1.0L);
  }
  r = std::fabs(r);
  if (x == 2.0) return D(ext::Ln(r));
  const double t = x - 2.0;
  return D(ext::Ln(r) + static_cast<ld>(t) * Horner(LB, t) / HornerMonic(LC, t));
}

double Fact(int32_t N) {
  if (N < 0) return -NaN;
  if (N > MAXFAC) return INF;
  if (N <= 30) return FactTable[static_cast<std::size_t>(N)];
  return Gamma(static_cast<double>(N) + 1.0);
}

namespace {

// Complex Stirling series: coefficients of z^-(2k-1), the Bernoulli terms
// B(2k)/(2k(2k-1)), k = 1 ... 8.
constexpr std::array<double, 8> CS = {1.0 / 12,   -1.0 / 360,      1.0 / 1260, -1.0 / 1680,
                                      1.0 / 1188, -691.0 / 360360, 1.0 / 156,  -3617.0 / 122400};

// ln Gamma(z) for Re z >= 9: Ln(z)(z - 0.5) - z + ln(2 pi)/2 + sum of CS(k) z^-(2k-1), the
// terms added from the smallest up.
TCplx StirlingC(const TCplx& z) {
  std::array<TCplx, CS.size()> powers;
  powers[0] = CDiv(C_ONE, z);
  const TCplx inv2 = CSqr(powers[0]);
  for (std::size_t k = 1; k < powers.size(); ++k) powers[k] = CMul(powers[k - 1], inv2);
  TCplx sum = C_ZERO;
  for (std::size_t k = CS.size(); k-- > 0;) sum = CAdd(sum, CMul(CS[k], powers[k]));
  const TCplx main = CAdd(CSub(CMul(Ln(z), CSub(z, 0.5)), z), LN2PIDIV2);
  return CAdd(main, sum);
}

// Below this real part the upward recurrence would take more than a million steps (and
// would never end once z + 1 rounds back to z); the reflection formula answers instead.
constexpr double kReflectBelow = -1e6;

// Re z >= 0 has at most this many shifted arguments above -1 (see LnGammaUpper).
constexpr std::size_t kTailSize = 16;

// ln Gamma(z) for Im z >= 0 and no pole: LnGamma(z + 1) - Ln(z) until the real part is at
// least 9, in the order of that recursion: ((S - Ln(z_{n-1})) - ...) - Ln(z_0), S the
// Stirling value at z_n. Done as a loop, since deep recursion would overflow the stack.
// z_{k+1} = z_k + 1 is exact while Re z_k <= -1, so those arguments are formed again on the
// way down; the few above -1, where the addition may round, are kept.
TCplx LnGammaUpper(const TCplx& z) {
  std::array<double, kTailSize> tail{};
  std::size_t tailCount = 0;
  std::size_t steps = 0;
  double x = z.Re;
  while (x < 9.0) {
    if (x > -1.0 && tailCount < kTailSize) tail[tailCount++] = x;
    x = D(static_cast<ld>(x) + 1.0L);
    ++steps;
  }
  TCplx result = StirlingC(TCplx{x, z.Im});
  std::size_t k = steps;
  for (std::size_t i = tailCount; i-- > 0; --k) {
    x = tail[i];
    result = CSub(result, Ln(TCplx{x, z.Im}));
  }
  for (; k-- > 0;) {
    x = x - 1.0;
    result = CSub(result, Ln(TCplx{x, z.Im}));
  }
  return result;
}

}  // namespace

// A NaN part answers CNAN (the NaN rule would take it for a pole). Real parts below -1e6 go
// through the reflection ln Gamma(z) = ln pi - Ln(sin(pi z)) - ln Gamma(1 - z); its
// imaginary part is then the sum of principal logarithms rather than the continuous branch
// that the recurrence follows (they differ by whole turns).
TCplx LnGamma(const TCplx& Z) {
  if (IsNan(Z)) return CNAN;
  const double x = Z.Re, y = Z.Im;
  if (x <= 0.0 && y == 0.0 && truncl(static_cast<ld>(x) - 1e-8L) == x) return CINF;
  if (y < 0.0) return Conj(LnGamma(Conj(Z)));
  if (x >= 9.0) return StirlingC(Z);
  if (x < kReflectBelow) {
    const TCplx s = Sin(CMul(PI, Z));
    return CSub(CSub(LNPI, Ln(s)), LnGamma(CSub(1.0, Z)));
  }
  return LnGammaUpper(Z);
}

TCplx Gamma(const TCplx& Z) {
  if (IsNan(Z)) return CNAN;
  const TCplx l = LnGamma(Z);
  if (NGreaterEq(l.Re, 75.0)) return CINF;
  if (NLess(l.Re, -200.0)) return C_ZERO;
  const ld e = ext::Exp(l.Re);
  ld s, c;
  ext::SinCos(l.Im, s, c);
  return TCplx{D(e * c), D(e * s)};
}

namespace {

// Sum of (+-q)^k/(k!)^2 with q = z^2/4; the terms after k are dropped once k > 35 or the
// squared magnitude of term k is below 1e-20.
TCplx BesselSeries(const TCplx& z, bool alternating) {
  const TCplx z2 = CSqr(z);
  const TCplx q{z2.Re * 0.25, z2.Im * 0.25};
  TCplx t = q;
  TCplx sum = alternating ? CSub(C_ONE, q) : CAdd(C_ONE, q);
  for (int32_t k = 2;; ++k) {
    const TCplx p = CMul(t, q);
    const int32_t k2 = k * k;
    t = TCplx{D(static_cast<ld>(p.Re) / k2), D(static_cast<ld>(p.Im) / k2)};
    sum = (alternating && (k & 1)) ? CSub(sum, t) : CAdd(sum, t);
    if (k > 35 || NLess(Norm(t), 1e-20)) break;
  }
  return sum;
}

}  // namespace

TCplx BesselI0(const TCplx& Z) { return BesselSeries(Z, false); }
TCplx BesselJ0(const TCplx& Z) { return BesselSeries(Z, true); }

// Euclid in floating point; every value is an integer below 2^32, so each step is exact.
// Gcd(INT32_MIN, 0) would be 2^31, which saturates to INT32_MAX.
int32_t Gcd(int32_t A, int32_t B) {
  ld a = fabsl(static_cast<ld>(A)), b = fabsl(static_cast<ld>(B));
  while (b > 0.0L) {
    const ld quotient = truncl(a / b);
    const ld remainder = a - b * quotient;
    a = b;
    b = remainder;
  }
  return RoundToInt32(a);
}

// Lcm(0, 0) would divide 0 by 0 (and answer the integer indefinite); its value is 0. Results
// outside the 32-bit range saturate.
int32_t Lcm(int32_t A, int32_t B) {
  const int32_t g = Gcd(A, B);
  if (g == 0) return 0;
  return RoundToInt32(static_cast<ld>(A) * (static_cast<ld>(B) / g));
}

}  // namespace veskmath::Math387
