// Every built-in word with a real form: the function the real program calls answers, for real
// arguments, the bits the word's own routine stores, over the special values (signed zeros,
// NaNs, infinities, subnormals, huge and tiny arguments, integers and halves).
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include "vocabulary/Vocabulary.h"

namespace veskmath::qel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSpecial[] = {
    0.0,
    -0.0,
    kNaN,
    -kNaN,
    kInf,
    -kInf,
    4.9e-324,
    -1e-310,
    DBL_MIN,
    1e-300,
    -1e-20,
    0.5,
    -0.5,
    1.0,
    -1.0,
    2.5,
    -3.5,
    0.75,
    1.0000000000001,
    3.141592653589793,
    22.0,
    -170.5,
    710.0,
    -745.5,
    1e10,
    -2.5e15,
    1e300,
    DBL_MAX,
};

bool SameBits(double p, double q) { return std::memcmp(&p, &q, sizeof p) == 0; }

// The word's routine run on real arguments, as a node of the list runs it.
double Routine(TDoubleFunc routine, const double* args, int n) {
  TExpressionRec rec{};
  rec.Res = {&rec.CplxValue, &rec.RealValue, false};
  double values[2];
  TCplx unused[2] = {};
  TValueRef refs[2];
  for (int k = 0; k < n; ++k) {
    values[k] = args[k];
    refs[k] = {&unused[k], &values[k], false};
    rec.Args[k] = &refs[k];
  }
  routine(&rec);
  EXPECT_FALSE(rec.Res.IsCplx);
  return rec.RealValue;
}

TEST(RealForms, EveryRealFormAnswersTheRoutinesBits) {
  int walked = 0;
  for (const auto table : {Operators(), FunctionsBeforeOperators(), FunctionsAfterOperators()})
    for (const TFunctionRow& row : table) {
      const TRealForm form = MakeWord(row)->GetRealForm();
      if (form.Op != TRealOp::Func1 && form.Op != TRealOp::Func2) continue;
      ++walked;
      for (const double x : kSpecial) {
        if (form.Op == TRealOp::Func1) {
          const double fast = form.F1(x);
          const double list = Routine(row.Routine, &x, 1);
          EXPECT_TRUE(SameBits(fast, list))
              << row.Name << "(" << x << "): " << std::hexfloat << fast << " against " << list;
          continue;
        }
        for (const double y : kSpecial) {
          const double args[] = {x, y};
          const double fast = form.F2(x, y);
          const double list = Routine(row.Routine, args, 2);
          EXPECT_TRUE(SameBits(fast, list))
              << row.Name << "(" << x << ", " << y << "): " << std::hexfloat << fast << " against "
              << list;
        }
      }
    }
  // The 51 function rows of the real families and the power operators' rows ("^", "**" and
  // the like, "power", "pow").
  EXPECT_GE(walked, 54);
}

}  // namespace
}  // namespace veskmath::qel
