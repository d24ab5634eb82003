// Binds a complex variable and evaluates expressions of it: the two square roots of z and
// a check that squaring one gives z back. Built with the flags from pkg-config veskmath.
#include <cstdio>
#include <exception>

#include "math/Complex.h"
#include "math/NumberText.h"
#include "parser/QelParseExpr.h"

namespace m = veskmath::Math387;

int main() {
  m::TCplx z = m::Cplx(-3, 4);
  try {
    veskmath::qel::TQelExpression expr;
    expr.DefineVariableCplx("z", &z);
    expr.Add("sqrt(z)");
    const m::TCplx root = expr.EvaluateCplx();
    expr.Add("-sqrt(z)");
    const m::TCplx other = expr.EvaluateCplx();
    expr.Add("sqrt(z)^2");
    const m::TCplx back = expr.EvaluateCplx();
    std::printf("z = %s\n", m::CplxToStr(z).c_str());
    std::printf("roots: %s and %s\n", m::CplxToStr(root).c_str(), m::CplxToStr(other).c_str());
    std::printf("sqrt(z)^2 = %s\n", m::CplxToStr(back).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "roots: %s\n", e.what());
    return 1;
  }
  return 0;
}
