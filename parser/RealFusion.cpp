// Fusion: rewrite rules that merge instructions of the real program, so that one node does
// the work of several. Each rule keeps every rounding of the instructions it merges (a merged
// product is rounded to double before it is added, as its node stored it), so the values stay
// those of the list, bit for bit.
//
// The rules run from the root down: an instruction merged into its reader is marked Dead and
// never visited; an instruction still standing is visited once, after its reader. As the list
// is a tree, every instruction has exactly one reader, so merging never duplicates work.
#include <cstdint>

#include "parser/RealProgram.h"

namespace veskmath::qel::real {

namespace {

constexpr int kMaxTerms = TRealNode::kMaxTerms;

TInstr* At(TDraft& d, const TOperand& o) { return o.IsInstr() ? &d.Instrs[o.Instr] : nullptr; }
bool Is(TDraft& d, const TOperand& o, TCode a, TCode b) {
  const TInstr* i = At(d, o);
  return i != nullptr && (i->Code == a || i->Code == b);
}
bool IsSum(TDraft& d, const TOperand& o) { return Is(d, o, TCode::Add, TCode::Sub); }
bool IsFactor(TDraft& d, const TOperand& o) { return Is(d, o, TCode::Mul, TCode::Div); }
TOperand Of(int32_t i) { return TOperand{i, nullptr}; }

bool IsSquare(TDraft& d, const TOperand& o) {
  const TInstr* i = At(d, o);
  return i != nullptr && i->Code == TCode::PowerBy && i->N == 2;
}

// A sum of two operands that no other rule merges further: "a+b", "c-x" (not "a*b+c" or
// "a+b+c", which the sum rule makes one node, nor "sin(a)+cos(b)", which the call pair does).
bool IsPair(TDraft& d, const TOperand& o) {
  if (!IsSum(d, o)) return false;
  const TInstr& s = d.Instrs[o.Instr];
  for (const TOperand& t : {s.A[0], s.A[1]})
    if (IsSum(d, t) || IsFactor(d, t) || IsSquare(d, t)) return false;
  return !Is(d, s.A[0], TCode::Call1, TCode::Call2) || !Is(d, s.A[1], TCode::Call1, TCode::Call2);
}
bool OfPairs(TDraft& d, const TInstr& i) {
  return (i.Code == TCode::Mul || i.Code == TCode::Div) && (IsPair(d, i.A[0]) || IsPair(d, i.A[1]));
}

// Term k of a sum: a product or quotient of two operands (merged, unless rule "product of
// sums" makes it one node of its own), a square "x^2" (merged as x*x, which is the same
// value), or an operand as it is.
void Term(TDraft& d, const TOperand& t, bool minus, TInstr& sum, int k) {
  sum.Minus[k] = minus;
  TInstr* const i = At(d, t);
  if (IsFactor(d, t) && !IsFactor(d, i->A[0]) && !OfPairs(d, *i)) {
    sum.Kind[k] = i->Code == TCode::Mul ? TRealNode::tmProduct : TRealNode::tmQuotient;
    sum.A[k] = i->A[0];
    sum.B[k] = i->A[1];
    i->Code = TCode::Dead;
  } else if (IsSquare(d, t)) {
    sum.Kind[k] = TRealNode::tmProduct;
    sum.A[k] = sum.B[k] = i->A[0];
    i->Code = TCode::Dead;
  } else {
    sum.Kind[k] = TRealNode::tmPlain;
    sum.A[k] = t;
  }
}

// Walks down the left operands from base while `step` holds (at most a node's terms less one),
// recording each step's instruction in spine, top first; base ends at the first operand that
// is no such step. Answers the number of steps.
int Spine(TDraft& d, bool (*step)(TDraft&, const TOperand&), TOperand& base, int32_t* spine) {
  int ops = 0;
  while (ops < kMaxTerms - 1 && step(d, base)) {
    spine[ops++] = base.Instr;
    base = d.Instrs[base.Instr].A[0];
  }
  return ops;
}

// The terms of instruction j, a chain of + and - ("a-b+c*d" -> a, -b, +c*d) or one product or
// quotient, into sum; a chain longer than a node holds leaves its beginning as a plain first
// term, a sum of its own.
void Gather(TDraft& d, int32_t j, TInstr& sum) {
  int32_t spine[kMaxTerms];
  TOperand base = Of(j);
  const int ops = Spine(d, IsSum, base, spine);
  Term(d, base, false, sum, 0);
  for (int k = 1; k <= ops; ++k) {
    TInstr& op = d.Instrs[spine[ops - k]];
    Term(d, op.A[1], op.Code == TCode::Sub, sum, k);
  }
  for (int k = 0; k < ops; ++k) d.Instrs[spine[k]].Code = TCode::Dead;
  sum.Code = TCode::Sum;
  sum.N = ops + 1;
}

// One side of a product of sums: a pair's two operands (merged), or the operand as it is.
bool Side(TDraft& d, const TOperand& o, const TOperand*& ops, bool& minus) {
  if (!IsPair(d, o)) return false;
  TInstr& pair = d.Instrs[o.Instr];
  ops = pair.A;
  minus = pair.Code == TCode::Sub;
  pair.Code = TCode::Dead;
  return true;
}

// Rule "product of sums": (a+b)*(c-x) -> of-sums(a+b, *, c-x); also a/(b+c), (a-b)*c. Each
// sum is rounded as its node would store it.
bool ProductOfSums(TDraft& d, int32_t i) {
  const TInstr op = d.Instrs[i];
  if (!OfPairs(d, op)) return false;
  TInstr join{};
  join.Code = TCode::OfSums;
  join.Join = op.Code == TCode::Mul ? TRealOp::Mul : TRealOp::Div;
  const TOperand* ops = nullptr;
  if (Side(d, op.A[0], ops, join.Minus[0])) {
    join.N |= 1;
    join.A[0] = ops[0];
    join.A[1] = ops[1];
  } else {
    join.A[0] = op.A[0];
  }
  if (Side(d, op.A[1], ops, join.Minus[1])) {
    join.N |= 2;
    join.B[0] = ops[0];
    join.B[1] = ops[1];
  } else {
    join.B[0] = op.A[1];
  }
  d.Instrs[i] = join;
  return true;
}

// Rule "chain": a*b*c/d -> chain(a, *b, *c, /d). A product or quotient whose left operand is
// one too; up to six factors in one node, the rest a chain of its own.
bool ChainOfFactors(TDraft& d, int32_t i) {
  if (!IsFactor(d, Of(i)) || !IsFactor(d, d.Instrs[i].A[0])) return false;
  int32_t spine[kMaxTerms];
  TOperand base = Of(i);
  const int ops = Spine(d, IsFactor, base, spine);
  TInstr chain{};
  chain.Code = TCode::Chain;
  chain.N = ops + 1;
  chain.A[0] = base;
  for (int k = 1; k <= ops; ++k) {
    const TInstr& op = d.Instrs[spine[ops - k]];
    chain.A[k] = op.A[1];
    chain.Minus[k] = op.Code == TCode::Div;
  }
  for (int k = 0; k < ops; ++k) d.Instrs[spine[k]].Code = TCode::Dead;
  d.Instrs[i] = chain;
  return true;
}

// Rule "sum": a*x+b*y-c -> sum(prod, prod, plain); also a lone a*x -> sum(prod) and
// x^2+1 -> sum(prod(x, x), plain).
bool SumOfTerms(TDraft& d, int32_t i) {
  if (!IsSum(d, Of(i)) && !IsFactor(d, Of(i))) return false;
  TInstr sum{};
  Gather(d, i, sum);
  d.Instrs[i] = sum;
  return true;
}

// Rule "function of a sum": sqrt(x*x+y*y) -> sqrt(sum(prod, prod)), tanh(x/y) -> tanh(sum(quot)).
bool FunctionOfSum(TDraft& d, int32_t i) {
  TInstr& call = d.Instrs[i];
  if (call.Code != TCode::Call1) return false;
  const TOperand arg = call.A[0];
  if (!IsSum(d, arg) && !IsFactor(d, arg)) return false;
  TInstr sum{};
  Gather(d, arg.Instr, sum);
  sum.OfSum = true;
  sum.F1 = call.F1;
  d.Instrs[i] = sum;
  return true;
}

// Rule "call pair": sin(x)*cos(y) -> pair(sin x, cos y, *), x^y+y^x -> pair2(x^y, y^x, +).
// A sum of two plain terms, or one product or quotient, of two calls of the same arity.
bool CallPair(TDraft& d, int32_t i) {
  const TInstr& sum = d.Instrs[i];
  const bool pair = sum.Code == TCode::Sum && !sum.OfSum && sum.N == 2 &&
                    sum.Kind[0] == TRealNode::tmPlain && sum.Kind[1] == TRealNode::tmPlain;
  const bool term =
      sum.Code == TCode::Sum && !sum.OfSum && sum.N == 1 && sum.Kind[0] != TRealNode::tmPlain;
  if (!pair && !term) return false;
  TInstr* const f = At(d, sum.A[0]);
  TInstr* const g = At(d, pair ? sum.A[1] : sum.B[0]);
  if (f == nullptr || g == nullptr || f->Code != g->Code) return false;
  if (f->Code != TCode::Call1 && f->Code != TCode::Call2) return false;
  TInstr call{};
  call.Code = f->Code == TCode::Call1 ? TCode::CallPair1 : TCode::CallPair2;
  call.Join = pair ? (sum.Minus[1] ? TRealOp::Sub : TRealOp::Add)
                   : (sum.Kind[0] == TRealNode::tmProduct ? TRealOp::Mul : TRealOp::Div);
  call.F1 = f->F1;
  call.F2 = f->F2;
  call.G1 = g->F1;
  call.G2 = g->F2;
  call.A[0] = f->A[0];
  call.B[0] = f->A[1];
  call.A[1] = g->A[0];
  call.B[1] = g->A[1];
  f->Code = g->Code = TCode::Dead;
  d.Instrs[i] = call;
  return true;
}

}  // namespace

void Fuse(TDraft& draft) {
  for (int32_t i = draft.Count - 1; i >= 0; --i) {
    if (draft.Instrs[i].Code == TCode::Dead) continue;
    if (ProductOfSums(draft, i) || ChainOfFactors(draft, i)) continue;
    if (SumOfTerms(draft, i)) {
      CallPair(draft, i);
      continue;
    }
    FunctionOfSum(draft, i);
  }
}

}  // namespace veskmath::qel::real
