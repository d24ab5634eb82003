// Shows what the numeric library offers so far: a few complex computations.
#include <cstdio>

#include "math/Math387.h"

using namespace veskmath::Math387;

int main() {
  const TCplx a = Cplx(1, 2), b = Cplx(1, -2);
  const TCplx p = CMul(a, b), q = CDiv(a, b);
  std::printf("(1+2i)*(1-2i) = %.15g%+.15gi\n", p.Re, p.Im);
  std::printf("(1+2i)/(1-2i) = %.15g%+.15gi\n", q.Re, q.Im);
  std::printf("|3+4i| = %.15g\n", CAbs(Cplx(3, 4)));
  std::printf("1/0 = %g, 0/0 = %g (no trap)\n", 1.0 / (p.Im * 0), (p.Im * 0) / (p.Im * 0));
  return 0;
}
