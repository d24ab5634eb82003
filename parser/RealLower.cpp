// Lowering: each node of an evaluation list becomes one instruction of the real program, with
// its operands resolved to an earlier instruction or to the storage of a value.
#include <cstdint>

#include "math/Utilities.h"
#include "parser/RealProgram.h"

namespace veskmath::qel::real {

namespace {

// The largest fixed exponent that gets a routine of its own ("x^3"); others run the general one.
constexpr int32_t kMaxPowerBy = 16;

struct TLowering {
  const TExpressionRec* First;
  int32_t Count;
  TDraft& Draft;

  // A value: read where it lives; its kind joins the guard (a number of the expression's own
  // never changes kind, so guarding it costs nothing after the first look).
  const double* Leaf(TValueRef* ref) {
    if (ref == nullptr || ref->Real == nullptr) return nullptr;
    TRealProgram& p = Draft.Program;
    for (int32_t i = 0; i < p.Guarded; ++i)
      if (p.Guard[i] == &ref->IsCplx) return ref->Real;
    if (p.Guarded == TRealProgram::kMaxGuarded) return nullptr;
    p.Guard[p.Guarded++] = &ref->IsCplx;
    return ref->Real;
  }

  // Argument k of rec: the list node whose result it is, or a value.
  bool Operand(const TExpressionRec& rec, int k, TOperand& out) {
    TValueRef* ref = rec.Args[k];
    const auto at = reinterpret_cast<std::uintptr_t>(ref);
    const auto first = reinterpret_cast<std::uintptr_t>(First);
    if (ref != nullptr && at >= first && at < first + Count * sizeof(TExpressionRec)) {
      const auto j = static_cast<int32_t>((at - first) / sizeof(TExpressionRec));
      if (&First[j].Res == ref) {
        out.Instr = j;
        return true;
      }
    }
    out.Value = Leaf(ref);
    return out.Value != nullptr;
  }

  // "x^3": linking chose the routine for a fixed whole exponent; answers it, or -1.
  static int32_t FixedExponent(const TExpressionRec& rec) {
    if (rec.Oper == rec.ExprWord->DoubleFunc()) return -1;
    return Math387::RoundToInt32(*rec.Args[1]->Real);
  }

  static bool Code(TRealOp op, TCode& code, int32_t& arity) {
    static constexpr struct {
      TRealOp Op;
      TCode Code;
      int32_t Arity;
    } kCodes[] = {
        {TRealOp::Add, TCode::Add, 2},         {TRealOp::Sub, TCode::Sub, 2},
        {TRealOp::Mul, TCode::Mul, 2},         {TRealOp::Div, TCode::Div, 2},
        {TRealOp::Neg, TCode::Neg, 1},         {TRealOp::Same, TCode::Same, 1},
        {TRealOp::Percent, TCode::Percent, 1}, {TRealOp::Gt, TCode::Gt, 2},
        {TRealOp::Ge, TCode::Ge, 2},           {TRealOp::Le, TCode::Le, 2},
        {TRealOp::Lt, TCode::Lt, 2},           {TRealOp::Ne, TCode::Ne, 2},
        {TRealOp::Eq, TCode::Eq, 2},           {TRealOp::Func1, TCode::Call1, 1},
        {TRealOp::Func2, TCode::Call2, 2},     {TRealOp::IntPower, TCode::IntPower, 2},
    };
    for (const auto& c : kCodes)
      if (c.Op == op) {
        code = c.Code;
        arity = c.Arity;
        return true;
      }
    return false;
  }

  bool Instr(const TExpressionRec& rec, TInstr& out) {
    const TRealForm form = rec.ExprWord->GetRealForm();
    int32_t arity = 0;
    if (!Code(form.Op, out.Code, arity) || rec.ExprWord->GetNFunctionArg() != arity) return false;
    if ((out.Code == TCode::Call1 && form.F1 == nullptr) ||
        (out.Code == TCode::Call2 && form.F2 == nullptr))
      return false;
    out.F1 = form.F1;
    out.F2 = form.F2;
    if (out.Code == TCode::IntPower) {
      if (const int32_t e = FixedExponent(rec); e >= 0 && e <= kMaxPowerBy) {
        out.Code = TCode::PowerBy;
        out.N = e;
        return Operand(rec, 0, out.A[0]);  // the fixed exponent is not read again
      }
    }
    for (int k = 0; k < arity; ++k)
      if (!Operand(rec, k, out.A[k])) return false;
    return true;
  }
};

}  // namespace

bool Lower(const TExpressionRec* nodes, int32_t count, TDraft& draft, const double*& lone) {
  TLowering lowering{nodes, count, draft};
  lone = nullptr;
  const TExpressionRec& root = nodes[count - 1];
  if (root.ExprWord->GetIsVariable()) {
    // A lone value ("x", "2*3+4" folded): its own storage is the result.
    lone = lowering.Leaf(root.Args[0]);
    draft.Count = 0;
    return lone != nullptr;
  }
  draft.Count = count;
  for (int32_t i = 0; i < count; ++i) {
    draft.Instrs[i] = TInstr{};
    if (!lowering.Instr(nodes[i], draft.Instrs[i])) return false;
  }
  return true;
}

}  // namespace veskmath::qel::real
