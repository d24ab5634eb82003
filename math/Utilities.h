// Small real and integer utilities of Math387: classification, ranges, minimum and
// maximum, signs, tolerance comparisons, integer rounding, powers of two.
//
// The NaN rule: a comparison with a NaN operand counts as "less" and as "equal" at once,
// never as "greater" (the x87 compare leaves all condition flags set when unordered).
// The N* helpers below spell out that rule; every comparison in the library goes
// through them where a NaN may appear.
#pragma once

#include <cmath>
#include <cstdint>

namespace veskmath::Math387 {

// --- the NaN rule -------------------------------------------------------------------------
inline bool NLess(long double a, long double b) { return !(a >= b); }   // a < b or NaN
inline bool NLessEq(long double a, long double b) { return !(a > b); }  // a <= b or NaN
inline bool NEqual(long double a, long double b) { return !(a < b) && !(a > b); }
inline bool NNotEqual(long double a, long double b) { return a < b || a > b; }
inline bool NGreater(long double a, long double b) { return a > b; }     // never with NaN
inline bool NGreaterEq(long double a, long double b) { return a >= b; }  // never with NaN

// --- classification (bit pattern only) --------------------------------------------------
bool IsNan(double x);
bool IsInf(double x);
bool IsInfNan(double x);
bool IsNanInf(double x);

// --- ranges -------------------------------------------------------------------------------
bool CheckRange(double low, double value, double high);
bool CheckRange(int32_t low, int32_t value, int32_t high);
double EnsureRange(double low, double value, double high);
int32_t EnsureRange(int32_t low, int32_t value, int32_t high);
void LimitRange(double low, double& value, double high);
void LimitRange(int32_t low, int32_t& value, int32_t high);

// --- minimum, maximum, sign, swap ---------------------------------------------------------
double Min(double a, double b);  // b if a > b, else a
double Max(double a, double b);  // b if a < b, else a
int32_t Min(int32_t a, int32_t b);
int32_t Max(int32_t a, int32_t b);
void Swap(double& a, double& b);
void Swap(int32_t& a, int32_t& b);
int32_t Sgn(double x);            // 1, 0 (also for NaN) or -1
double Sign(double a, double b);  // |a| with the sign of b (-|a| when b < 0 or NaN)

// --- tolerance comparisons ----------------------------------------------------------------
bool Equal(double a, double b, double tol);    // |a - b| <= tol
bool Bigger(double a, double b, double tol);   // a - tol > b
bool Smaller(double a, double b, double tol);  // a + tol < b

// --- integer rounding and powers of two ---------------------------------------------------
// Ceil and Floor answer 32-bit integers. Results outside that range saturate at
// INT32_MIN / INT32_MAX; a NaN answers INT32_MIN (the processor's "integer indefinite").
int32_t Ceil(double x);
int32_t Floor(double x);
double Rem(double x, double y);  // x - y*trunc(x/y): the sign of x
int32_t LargestExp2(int32_t n);  // smallest power of two >= n, at least 2 (n <= 2^30)
int32_t LargestLog2(int32_t n);  // floor(log2 n) for n >= 2, else 0

// Truncation of an extended value toward zero into 32 or 64 bits with the conventions
// above (saturation, NaN -> the minimum).
int32_t TruncToInt32(long double x);
int64_t TruncToInt64(long double x);
// Rounding to nearest, ties to even, with the same conventions.
int32_t RoundToInt32(long double x);
int64_t RoundToInt64(long double x);

}  // namespace veskmath::Math387
