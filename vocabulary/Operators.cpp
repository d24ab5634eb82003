// The 24 built-in operators: their routines, grouped by family, each family's rows right
// below its routines. The rows are concatenated in registration order at the end.
//
// Integer ranges (the rounded operands, nearest with ties to even):
//   "div", "mod": 64-bit; beyond the range an operand saturates at the nearest bound; a NaN
//                 operand gives NaN; x div -1 is exact also for the most negative value.
//   "!":          32-bit, saturating: a huge n gives INF, a very negative one NaN; NaN -> NaN.
//   "^@":         the exponent saturates to 32 bits; a NaN exponent gives NaN.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "math/Complex.h"
#include "math/Elementary.h"
#include "math/Environment.h"
#include "math/Special.h"
#include "math/Utilities.h"
#include "vocabulary/Vocabulary.h"

namespace veskmath::qel {

using namespace vocab;
namespace m = Math387;

namespace {
using enum TWordClass;

template <std::size_t... N>
constexpr auto Concat(const std::array<TFunctionRow, N>&... parts) {
  std::array<TFunctionRow, (N + ...)> all{};
  std::size_t i = 0;
  ((std::copy(parts.begin(), parts.end(), all.begin() + static_cast<std::ptrdiff_t>(i)),
    i += parts.size()),
   ...);
  return all;
}
}  // namespace

namespace vocab {
bool IsTrue(const TValueRef& v) {
  return v.IsCplx ? m::Bigger(*v.Cplx, m::C_ZERO) : m::NGreater(*v.Real, 0.0);
}
}  // namespace vocab

// --- one operand: factorial, percent, signs -----------------------------------------------
namespace ops {

void Factorial(PExpressionRec rec) {
  if (IsCplxArg(rec, 0)) m::ERaise("Factorial: Complex argument not supported!");
  // "5.5!" -> 6! = 720; "2.5!" -> 2! (ties to even)
  SetReal(rec, m::Fact(m::RoundToInt32(RealArg(rec, 0))));
}

void Percent(PExpressionRec rec) {
  if (IsCplxArg(rec, 0)) {
    SetCplx(rec, m::CMul(CplxArg(rec, 0), 0.01));
  } else {
    SetReal(rec, RealArg(rec, 0) * 0.01L);
  }
}

void Negate(PExpressionRec rec) {
  if (IsCplxArg(rec, 0)) {
    SetCplx(rec, m::Neg(CplxArg(rec, 0)));
  } else {
    SetReal(rec, -static_cast<long double>(RealArg(rec, 0)));
  }
}

void Identity(PExpressionRec rec) { SetValue(rec, Arg(rec, 0)); }

}  // namespace ops

constexpr std::array kUnaryRows = {
    TFunctionRow{"!", 1, Function, true, 10, ops::Factorial},
    TFunctionRow{"%", 1, Function, true, 10, ops::Percent},
    TFunctionRow{"-@", 1, Function, true, 10, ops::Negate},
    TFunctionRow{"+@", 1, Function, true, 10, ops::Identity},
};

// --- powers -------------------------------------------------------------------------------
namespace ops {

void Power(PExpressionRec rec) {
  const bool ca = IsCplxArg(rec, 0);
  const bool cb = IsCplxArg(rec, 1);
  if (!ca && !cb) {
    SetReal(rec, m::Power(RealArg(rec, 0), RealArg(rec, 1)));
  } else if (ca && !cb) {
    SetCplx(rec, m::Power(CplxArg(rec, 0), RealArg(rec, 1)));
  } else {
    SetCplx(rec, m::Power(PromotedArg(rec, 0), CplxArg(rec, 1)));
  }
}

void IntPower(PExpressionRec rec) {
  if (IsCplxArg(rec, 1)) {  // a complex exponent is not rounded
    SetCplx(rec, m::Power(PromotedArg(rec, 0), CplxArg(rec, 1)));
    return;
  }
  const double exponent = RealArg(rec, 1);
  if (std::isnan(exponent)) {
    if (IsCplxArg(rec, 0)) {
      SetCplx(rec, m::CNAN);
    } else {
      SetReal(rec, m::NaN);
    }
    return;
  }
  const int32_t n = m::RoundToInt32(exponent);
  if (IsCplxArg(rec, 0)) {
    SetCplx(rec, m::IntPower(CplxArg(rec, 0), n));
  } else {
    SetReal(rec, m::ext::IntPower(RealArg(rec, 0), n));
  }
}

namespace {
// "x^2" with the exponent fixed at N: the same products in the same order as the general
// routine's loop (ext::IntPower unrolled for a constant N), so the same double.
template <int32_t N>
void IntPowerBy(PExpressionRec rec) {
  const TValueRef& base = *rec->Args[0];
  if (!base.IsCplx) [[likely]] {
    SetReal(rec, m::ext::IntPower(*base.Real, N));
  } else {
    SetCplx(rec, m::IntPower(*base.Cplx, N));
  }
}

template <int32_t... N>
constexpr std::array<TDoubleFunc, sizeof...(N)> IntPowerTable(
    std::integer_sequence<int32_t, N...>) {
  return {IntPowerBy<N>...};
}
constexpr auto kIntPowerBy = IntPowerTable(std::make_integer_sequence<int32_t, 17>{});
}  // namespace

TDoubleFunc IntPowerFor(double exponent) {
  // Only a whole exponent: the general routine rounds in the rounding mode of the moment of
  // evaluation, which need not be the mode of now ("intpower(x, 3.5)" under truncation).
  if (std::isnan(exponent) || exponent != std::trunc(exponent)) return nullptr;
  const int32_t n = m::RoundToInt32(exponent);
  return n >= 0 && n < static_cast<int32_t>(kIntPowerBy.size())
             ? kIntPowerBy[static_cast<std::size_t>(n)]
             : nullptr;
}

}  // namespace ops

constexpr std::array kPowerRows = {
    TFunctionRow{"^", 2, Function, true, 20, ops::Power},
    TFunctionRow{"^@", 2, Function, true, 20, ops::IntPower},
};

// --- multiplicative -----------------------------------------------------------------------
namespace ops {

void Multiply(PExpressionRec rec) {
  const bool ca = IsCplxArg(rec, 0);
  const bool cb = IsCplxArg(rec, 1);
  if (!ca && !cb) {
    SetReal(rec, static_cast<long double>(RealArg(rec, 0)) * RealArg(rec, 1));
  } else if (ca && cb) {
    SetCplx(rec, m::CMul(CplxArg(rec, 0), CplxArg(rec, 1)));
  } else if (ca) {
    SetCplx(rec, m::CMul(CplxArg(rec, 0), RealArg(rec, 1)));
  } else {
    SetCplx(rec, m::CMul(CplxArg(rec, 1), RealArg(rec, 0)));  // operands exchanged
  }
}

void Divide(PExpressionRec rec) {
  const bool ca = IsCplxArg(rec, 0);
  const bool cb = IsCplxArg(rec, 1);
  if (!ca && !cb) {
    SetReal(rec, static_cast<long double>(RealArg(rec, 0)) / RealArg(rec, 1));  // 1/0 -> INF
  } else if (ca && cb) {
    SetCplx(rec, m::CDiv(CplxArg(rec, 0), CplxArg(rec, 1)));
  } else if (ca) {
    SetCplx(rec, m::CDiv(CplxArg(rec, 0), RealArg(rec, 1)));
  } else {
    SetCplx(rec, m::CDiv(RealArg(rec, 0), CplxArg(rec, 1)));
  }
}

namespace {
// The rounded operands of "div" and "mod", or false (with NaN stored) for a NaN operand.
// Both must be real: "i div 2" and "7 div i" are refused alike. A divisor that rounds to 0
// is refused before a NaN dividend is looked at: "nan div 0", "x div 0.3" stop too.
bool IntegerOperands(PExpressionRec rec, int64_t& a, int64_t& b) {
  if (IsCplxArg(rec, 0) || IsCplxArg(rec, 1)) m::ERaise("Div: argument can not be complex!");
  const double x = RealArg(rec, 0);
  const double y = RealArg(rec, 1);
  if (!std::isnan(y) && m::RoundToInt64(y) == 0) throw rtl::EDivByZero(rtl::kDivByZeroMessage);
  if (std::isnan(x) || std::isnan(y)) {
    SetReal(rec, m::NaN);
    return false;
  }
  a = m::RoundToInt64(x);
  b = m::RoundToInt64(y);
  return true;
}
}  // namespace

void IntDiv(PExpressionRec rec) {
  int64_t a, b;
  if (!IntegerOperands(rec, a, b)) return;
  // Truncated toward zero: "-7 div 2" -> -3. a / -1 would overflow for the minimum.
  SetReal(rec, b == -1 ? -static_cast<long double>(a) : static_cast<long double>(a / b));
}

void IntMod(PExpressionRec rec) {
  int64_t a, b;
  if (!IntegerOperands(rec, a, b)) return;
  // The sign of the dividend: "-7 mod 2" -> -1.
  SetReal(rec, b == -1 ? 0.0L : static_cast<long double>(a % b));
}

}  // namespace ops

constexpr std::array kMultiplicativeRows = {
    TFunctionRow{"*", 2, Function, true, 30, ops::Multiply},
    TFunctionRow{"/", 2, Function, true, 30, ops::Divide},
    TFunctionRow{"div", 2, Function, true, 30, ops::IntDiv},
    TFunctionRow{"mod", 2, Function, true, 30, ops::IntMod},
};

// --- additive -----------------------------------------------------------------------------
namespace ops {

void Add(PExpressionRec rec) {
  const bool ca = IsCplxArg(rec, 0);
  const bool cb = IsCplxArg(rec, 1);
  if (!ca && !cb) {
    SetReal(rec, static_cast<long double>(RealArg(rec, 0)) + RealArg(rec, 1));
  } else if (ca && cb) {
    SetCplx(rec, m::CAdd(CplxArg(rec, 0), CplxArg(rec, 1)));
  } else if (ca) {
    SetCplx(rec, m::CAdd(CplxArg(rec, 0), RealArg(rec, 1)));
  } else {
    SetCplx(rec, m::CAdd(RealArg(rec, 0), CplxArg(rec, 1)));
  }
}

void Subtract(PExpressionRec rec) {
  const bool ca = IsCplxArg(rec, 0);
  const bool cb = IsCplxArg(rec, 1);
  if (!ca && !cb) {
    SetReal(rec, static_cast<long double>(RealArg(rec, 0)) - RealArg(rec, 1));
  } else if (ca && cb) {
    SetCplx(rec, m::CSub(CplxArg(rec, 0), CplxArg(rec, 1)));
  } else if (ca) {
    SetCplx(rec, m::CSub(CplxArg(rec, 0), RealArg(rec, 1)));
  } else {
    SetCplx(rec, m::CSub(RealArg(rec, 0), CplxArg(rec, 1)));
  }
}

}  // namespace ops

constexpr std::array kAdditiveRows = {
    TFunctionRow{"+", 2, Function, true, 40, ops::Add},
    TFunctionRow{"-", 2, Function, true, 40, ops::Subtract},
};

// --- comparisons: the NaN rule for reals, the complex order otherwise -------------------
namespace ops {

namespace {
inline bool BothReal(PExpressionRec rec) { return !IsCplxArg(rec, 0) && !IsCplxArg(rec, 1); }
}  // namespace

void Greater(PExpressionRec rec) {
  SetBool(rec, BothReal(rec) ? m::NGreater(RealArg(rec, 0), RealArg(rec, 1))
                             : m::Bigger(PromotedArg(rec, 0), PromotedArg(rec, 1)));
}

void GreaterEq(PExpressionRec rec) {
  SetBool(rec, BothReal(rec) ? m::NGreaterEq(RealArg(rec, 0), RealArg(rec, 1))
                             : !m::Smaller(PromotedArg(rec, 0), PromotedArg(rec, 1)));
}

void LessEq(PExpressionRec rec) {
  SetBool(rec, BothReal(rec) ? m::NLessEq(RealArg(rec, 0), RealArg(rec, 1))
                             : !m::Bigger(PromotedArg(rec, 0), PromotedArg(rec, 1)));
}

void Less(PExpressionRec rec) {
  SetBool(rec, BothReal(rec) ? m::NLess(RealArg(rec, 0), RealArg(rec, 1))
                             : m::Smaller(PromotedArg(rec, 0), PromotedArg(rec, 1)));
}

void NotEqual(PExpressionRec rec) {
  SetBool(rec, BothReal(rec) ? m::NNotEqual(RealArg(rec, 0), RealArg(rec, 1))
                             : !m::Equal(PromotedArg(rec, 0), PromotedArg(rec, 1)));
}

void Equal(PExpressionRec rec) {
  SetBool(rec, BothReal(rec) ? m::NEqual(RealArg(rec, 0), RealArg(rec, 1))
                             : m::Equal(PromotedArg(rec, 0), PromotedArg(rec, 1)));
}

}  // namespace ops

constexpr std::array kComparisonRows = {
    TFunctionRow{">", 2, BooleanFunction, true, 50, ops::Greater},
    TFunctionRow{">=", 2, BooleanFunction, true, 50, ops::GreaterEq},
    TFunctionRow{"<=", 2, BooleanFunction, true, 50, ops::LessEq},
    TFunctionRow{"<", 2, BooleanFunction, true, 50, ops::Less},
    TFunctionRow{"<>", 2, BooleanFunction, true, 50, ops::NotEqual},
    TFunctionRow{"=", 2, BooleanFunction, true, 50, ops::Equal},
    TFunctionRow{"in", 2, BooleanFunction, true, 10, ops::Equal},
};

// --- logic: the truth test of each operand, no short-circuit -----------------------------
namespace ops {

void Not(PExpressionRec rec) { SetBool(rec, !IsTrue(Arg(rec, 0))); }
void Or(PExpressionRec rec) { SetBool(rec, IsTrue(Arg(rec, 0)) || IsTrue(Arg(rec, 1))); }
void And(PExpressionRec rec) { SetBool(rec, IsTrue(Arg(rec, 0)) && IsTrue(Arg(rec, 1))); }
void Xor(PExpressionRec rec) { SetBool(rec, IsTrue(Arg(rec, 0)) != IsTrue(Arg(rec, 1))); }

}  // namespace ops

constexpr std::array kLogicRows = {
    TFunctionRow{"not", 1, BooleanFunction, true, 60, ops::Not},
    TFunctionRow{"or", 2, BooleanFunction, true, 70, ops::Or},
    TFunctionRow{"and", 2, BooleanFunction, true, 70, ops::And},
    TFunctionRow{"xor", 2, BooleanFunction, true, 70, ops::Xor},
};

// --- assignment ---------------------------------------------------------------------------
namespace ops {

// "x:=a+b": the value is copied into the storage the left operand refers to (a word's own
// storage, or the caller's storage it is bound to), never the reference: the word keeps its
// value when the assigning expression is dropped. The assignment's value is the value.
void Assign(PExpressionRec rec) {
  TValueRef& target = *rec->Args[0];
  const TValueRef& source = Arg(rec, 1);
  if (source.IsCplx) {
    const TCplx v = *source.Cplx;
    if (target.Cplx == nullptr) m::ERaise("Assignment: the left operand holds no value");
    *target.Cplx = v;
    if (!target.IsCplx) NoteKindChange();  // real programs reading the word look again
    target.IsCplx = true;
    SetCplx(rec, v);
  } else {
    const double v = *source.Real;
    if (target.Real == nullptr) m::ERaise("Assignment: the left operand holds no value");
    *target.Real = v;
    target.IsCplx = false;
    *rec->Res.Real = v;
    rec->Res.IsCplx = false;
  }
}

}  // namespace ops

constexpr std::array kAssignmentRows = {
    TFunctionRow{":=", 2, Function, true, 200, ops::Assign},
};

namespace {
constexpr auto kOperatorTable = Concat(kUnaryRows, kPowerRows, kMultiplicativeRows, kAdditiveRows,
                                       kComparisonRows, kLogicRows, kAssignmentRows);
static_assert(kOperatorTable.size() == 24);
}  // namespace

std::span<const TFunctionRow> Operators() { return kOperatorTable; }

}  // namespace veskmath::qel
