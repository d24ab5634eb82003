// TCplx, the complex number of the whole system, and its construction, transforms,
// arithmetic, rounding and order.
//
// All operations are free functions, overloaded by argument kind (complex with complex,
// complex with real, real with complex). Intermediates are carried in extended precision
// and rounded to double once, when the result is stored. Nothing here raises: division
// by zero and overflow give infinities and NaNs. Comparisons follow the NaN rule of
// Utilities.h.
#pragma once

#include <cstdint>
#include <vector>

#include "math/Constants.h"

namespace veskmath::Math387 {

struct TCplx {
  double Re;
  double Im;
};
static_assert(sizeof(TCplx) == 16);

// Dynamic arrays declared beside the record (zero-based).
using TSampleArray = std::vector<double>;
using TCplxArray = std::vector<TCplx>;
using TIntArray = std::vector<int32_t>;
using T2DSampleArray = std::vector<TSampleArray>;
using T2DCplxArray = std::vector<TCplxArray>;
using PSampleArray = TSampleArray*;
using PCplxArray = TCplxArray*;
using PIntArray = TIntArray*;

inline constexpr TCplx C_ZERO{0.0, 0.0};
inline constexpr TCplx C_ONE{1.0, 0.0};
inline constexpr TCplx C_I{0.0, 1.0};
inline constexpr TCplx C_PI{PI, 0.0};
inline constexpr TCplx C_pi_div_2{PIDIV2, 0.0};
inline constexpr TCplx CNAN{NaN, NaN};
inline constexpr TCplx CINF{INF, INF};

// --- construction and access --------------------------------------------------------------
inline constexpr TCplx Cplx(double re, double im) { return TCplx{re, im}; }
inline constexpr double Real(const TCplx& z) { return z.Re; }
inline constexpr double Imag(const TCplx& z) { return z.Im; }
void Swap(TCplx& a, TCplx& b);

// --- sign and simple transforms -----------------------------------------------------------
TCplx Neg(const TCplx& z);
TCplx Sign(const TCplx& z);  // the same value as Neg
TCplx Conj(const TCplx& z);
TCplx Flip(const TCplx& z);  // (y, x)
TCplx FlipConj(const TCplx& z);
void FlipConj(const TCplx& z, TCplx& result);  // result may be z itself
TCplx MulI(const TCplx& z);
void MulI(const TCplx& z, TCplx& result);
TCplx CInv(const TCplx& z);
void CInv(const TCplx& z, TCplx& result);
TCplx CSqr(const TCplx& z);
int32_t Sgn(const TCplx& z);

// --- magnitude and polar form -------------------------------------------------------------
double CAbs(const TCplx& z);
double Norm(const TCplx& z);
double Arg(const TCplx& z);
TCplx CartToPolar(const TCplx& z);
TCplx PolarToCart(const TCplx& z);
TCplx Expj(double t);

// --- arithmetic ---------------------------------------------------------------------------
TCplx CAdd(const TCplx& a, const TCplx& b);
TCplx CAdd(const TCplx& a, double x);
TCplx CAdd(double x, const TCplx& a);
TCplx CSub(const TCplx& a, const TCplx& b);
TCplx CSub(const TCplx& a, double x);
void CSub(const TCplx& a, double x, TCplx& result);
TCplx CSub(double x, const TCplx& a);
void CSub(double x, const TCplx& a, TCplx& result);
TCplx CMul(const TCplx& a, const TCplx& b);
TCplx CMul(const TCplx& a, double x);
TCplx CMul(double x, const TCplx& a);
TCplx CDiv(const TCplx& a, const TCplx& b);
TCplx CDiv(const TCplx& a, double x);
TCplx CDiv(double x, const TCplx& a);

// --- rounding and remainder ---------------------------------------------------------------
TCplx CTrunc(const TCplx& z);
TCplx CRound(const TCplx& z);
TCplx CFrac(const TCplx& z);
TCplx Ceil(const TCplx& z);
TCplx Floor(const TCplx& z);
TCplx Rem(const TCplx& a, const TCplx& b);

// --- classification -----------------------------------------------------------------------
bool IsNan(const TCplx& z);
bool IsInf(const TCplx& z);
bool IsInfNan(const TCplx& z);
bool IsNanInf(const TCplx& z);

// --- comparisons: magnitude first, then phase in (-pi, pi] --------------------------------
bool Equal(const TCplx& a, const TCplx& b);
bool Equal(const TCplx& a, const TCplx& b, double tol);
bool Equal(const TCplx& a, double x);
bool Equal(double x, const TCplx& a);
bool Bigger(const TCplx& a, const TCplx& b);
bool Bigger(const TCplx& a, double x);
bool Bigger(double x, const TCplx& a);
bool Smaller(const TCplx& a, const TCplx& b);
bool Smaller(const TCplx& a, double x);
bool Smaller(double x, const TCplx& a);
bool BiggerOrEqual(const TCplx& a, const TCplx& b);
bool BiggerOrEqual(const TCplx& a, double x);
bool BiggerOrEqual(double x, const TCplx& a);
bool SmallerOrEqual(const TCplx& a, const TCplx& b);
bool SmallerOrEqual(const TCplx& a, double x);
bool SmallerOrEqual(double x, const TCplx& a);
bool Bigger2(const TCplx& a, const TCplx& b);   // phase order by quadrant
bool Smaller2(const TCplx& a, const TCplx& b);  // Bigger2(b, a)
TCplx Max(const TCplx& a, const TCplx& b);      // a if Bigger(a, b), else b
TCplx Min(const TCplx& a, const TCplx& b);      // a if Smaller(a, b), else b

}  // namespace veskmath::Math387
