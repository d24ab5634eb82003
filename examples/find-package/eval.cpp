// Evaluates one compiled expression for several values of a bound variable and prints each
// complex result. Built against the installed library through find_package(VeskMath).
#include <cstdio>
#include <exception>
#include <string>

#include "math/NumberText.h"
#include "parser/QelParseExpr.h"

int main(int argc, char** argv) {
  const std::string text = argc > 1 ? argv[1] : "(x+2i)*(x-i)";
  try {
    double x = 0;
    veskmath::qel::TQelExpression expr;
    expr.DefineVariable("x", &x);  // the expression reads x's storage at each evaluation
    expr.Add(text);                // compiled once
    for (x = 1; x <= 3; x += 1) {
      const std::string result = veskmath::Math387::CplxToStr(expr.EvaluateCplx());
      std::printf("x=%g: %s = %s\n", x, text.c_str(), result.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "eval: %s\n", e.what());
    return 1;
  }
  return 0;
}
