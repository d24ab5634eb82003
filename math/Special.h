// Special functions of Math387: the gamma family (Gamma, SgnGamma, LnGamma, Fact) for real
// and complex arguments, the Bessel functions of order zero I0 and J0 of a complex argument,
// and the integer Gcd and Lcm.
//
// The real gamma routines combine recurrence into [2, 3), rational approximations, a power
// series near zero, Stirling series and reflection for negative arguments; each step of
// their polynomial evaluations is rounded to double. The complex ones use the Stirling
// series with recurrence. Nothing here raises: poles, overflow and negative factorials give
// infinities or NaN, underflow gives 0.
#pragma once

#include <cstdint>

#include "math/Complex.h"

namespace veskmath::Math387 {

double Gamma(double X);
// +1 for X > 0; for X <= 0 the sign of Gamma between the poles: -1 when trunc|X| is even.
int32_t SgnGamma(double X);
// ln |Gamma(X)|; minus INF at the poles.
double LnGamma(double X);
TCplx Gamma(const TCplx& Z);
TCplx LnGamma(const TCplx& Z);
// N! from the table up to 30, through Gamma above; NaN for N < 0, INF beyond 170.
double Fact(int32_t N);
TCplx BesselI0(const TCplx& Z);
TCplx BesselJ0(const TCplx& Z);
// Euclid on |A|, |B|; Gcd(0, 0) is 0.
int32_t Gcd(int32_t A, int32_t B);
// A*(B/Gcd(A, B)), signed by A and B (Lcm(-4, 6) is -12); Lcm(0, 0) is 0.
int32_t Lcm(int32_t A, int32_t B);

}  // namespace veskmath::Math387
