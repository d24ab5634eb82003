// Vocabulary: the built-in words every expression object registers, as tables, and the
// contract their evaluation routines follow.
//
// Registration order (FillExpressList): "(", ")", the separator, the constants, the
// functions before the operators ("random"), the operators, the functions after them
// ("randg" ...). Each built-in is one row: name, arity, class, precedence, routine.
//
// Routine contract: argument k is read through the TValueRef that Args[k] points to
// (IsCplx first, then exactly one of the two pointers); the result is written through Res
// with IsCplx set to match. Arithmetic runs in long double and is rounded to double when
// stored. A routine allocates nothing and looks nothing up. Refusals raise the general
// exception through Math387::ERaise.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "parser/QelParseClass.h"

namespace veskmath::qel {

enum class TWordClass : uint8_t { Function, VaryingFunction, BooleanFunction };

struct TFunctionRow {
  const char* Name;
  int32_t NArgs;
  TWordClass Class;
  bool IsOper;
  int32_t Prec;  // operators only: smaller binds more tightly
  TDoubleFunc Routine;
  TRealForm Real{};  // what Routine computes of real operands, when that is a real function
};

// The real forms of the function families: Routine(x) is F(x) for a real x.
constexpr TRealForm Real1(double (*f)(double)) { return {TRealOp::Func1, f, nullptr}; }
constexpr TRealForm Real2(double (*f)(double, double)) { return {TRealOp::Func2, nullptr, f}; }

struct TConstantRow {
  const char* Name;
  TCplx Value;
  bool ComplexForm;  // made with the complex constructor; otherwise from the real part
};

std::span<const TConstantRow> Constants();
std::span<const TFunctionRow> Operators();
// The function words (vocabulary/Functions.cpp): "random" before the operators, the rest
// after them.
std::span<const TFunctionRow> FunctionsBeforeOperators();
std::span<const TFunctionRow> FunctionsAfterOperators();

// The word a row describes (TFunction, TVaryingFunction or TBooleanFunction). The word keeps
// a pointer to the row's real form: rows live in static tables.
std::unique_ptr<TExprWord> MakeWord(const TFunctionRow& row);

// --- reading arguments and writing results ------------------------------------------------
namespace vocab {

inline const TValueRef& Arg(PExpressionRec rec, int k) { return *rec->Args[k]; }
inline bool IsCplxArg(PExpressionRec rec, int k) { return rec->Args[k]->IsCplx; }
inline double RealArg(PExpressionRec rec, int k) { return *rec->Args[k]->Real; }
inline const TCplx& CplxArg(PExpressionRec rec, int k) { return *rec->Args[k]->Cplx; }
// Promotion: a real x as the complex (x, 0).
inline TCplx PromotedArg(PExpressionRec rec, int k) {
  const TValueRef& a = *rec->Args[k];
  return a.IsCplx ? *a.Cplx : TCplx{*a.Real, 0.0};
}

inline void SetReal(PExpressionRec rec, long double x) {
  *rec->Res.Real = static_cast<double>(x);
  rec->Res.IsCplx = false;
}
inline void SetCplx(PExpressionRec rec, const TCplx& z) {
  *rec->Res.Cplx = z;
  rec->Res.IsCplx = true;
}
inline void SetBool(PExpressionRec rec, bool b) {
  *rec->Res.Real = b ? 1.0 : 0.0;
  rec->Res.IsCplx = false;
}
// Copies an argument's value, keeping its kind.
inline void SetValue(PExpressionRec rec, const TValueRef& v) {
  if (v.IsCplx) {
    SetCplx(rec, *v.Cplx);
  } else {
    *rec->Res.Real = *v.Real;
    rec->Res.IsCplx = false;
  }
}

// Truth test: a real is true when greater than 0 (NaN is false); a complex value when it
// ranks above zero.
bool IsTrue(const TValueRef& v);

}  // namespace vocab

// --- operator routines, shared with the function words and the C-style variant ----------
namespace ops {
void Factorial(PExpressionRec rec);  // "!"
void Percent(PExpressionRec rec);    // "%"
void Negate(PExpressionRec rec);     // "-@"
void Identity(PExpressionRec rec);   // "+@"
void Power(PExpressionRec rec);      // "^", "power", "pow"
void IntPower(PExpressionRec rec);   // "^@", "intpower"
// A routine equal to IntPower for every base when the exponent is this fixed whole real
// value ("x^2"), or nil when there is none for it.
TDoubleFunc IntPowerFor(double exponent);
void Multiply(PExpressionRec rec);
void Divide(PExpressionRec rec);
void IntDiv(PExpressionRec rec);  // "div"
void IntMod(PExpressionRec rec);  // "mod"
void Add(PExpressionRec rec);
void Subtract(PExpressionRec rec);
void Greater(PExpressionRec rec);
void GreaterEq(PExpressionRec rec);
void LessEq(PExpressionRec rec);
void Less(PExpressionRec rec);
void NotEqual(PExpressionRec rec);
void Equal(PExpressionRec rec);  // "=", "in"
void Not(PExpressionRec rec);
void Or(PExpressionRec rec);
void And(PExpressionRec rec);
void Xor(PExpressionRec rec);
void Assign(PExpressionRec rec);  // ":="
}  // namespace ops

}  // namespace veskmath::qel
