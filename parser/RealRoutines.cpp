// The routines of the real program and the one table selection chooses them from. Every
// routine computes exactly what the list's routines compute for real operands: long double
// arithmetic, rounded to double where the list's node would store its value.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "math/Elementary.h"
#include "math/Utilities.h"
#include "parser/RealProgram.h"

namespace veskmath::qel::real {

namespace {

using TNode = TRealNode;
using TTerm = TRealNode::TTerm;

// Rounds an extended value to double as a store does, keeping it on the x87 stack: one store
// and one load (the compiler's own cast would move it through an SSE register and back).
inline long double Rounded(long double x) {
#if defined(__x86_64__) || defined(__i386__)
  double d;
  asm("fstpl %0" : "=m"(d) : "t"(x) : "st");
  long double r;
  asm("fldl %1" : "=t"(r) : "m"(d));
  return r;
#else
  return static_cast<double>(x);
#endif
}

// Stores a node's value and goes on to the next node of a chained program (a jump: the call
// is the routine's last act), or answers the value at the end (which no node reads: RunNodes
// stores it).
inline double Done(TNode& n, double value) {
  TNode* const next = n.Next;
  if (next == nullptr) return value;
  n.Value = value;
  return next->Run(*next);
}

// A function's value as a node's: the last node's call is a jump, the function answering.
template <typename F, typename... X>
inline double Call(TNode& n, F f, X... x) {
  TNode* const next = n.Next;
  if (next == nullptr) return f(x...);
  n.Value = f(x...);
  return next->Run(*next);
}

// The same for an extended value, rounded to double by a store straight into the node: the
// compiler's own cast would store it on the stack, reload it into an SSE register and store
// that, and the next node's load would wait for both stores.
inline double Done(TNode& n, long double x) {
#if defined(__x86_64__) || defined(__i386__)
  asm("fstpl %0" : "=m"(n.Value) : "t"(x) : "st");
  TNode* const next = n.Next;
  return next == nullptr ? n.Value : next->Run(*next);
#else
  return Done(n, static_cast<double>(x));
#endif
}

template <bool F>
inline double Store(TNode& n, long double x) {
  if constexpr (F) {
    return Call(n, n.F1, static_cast<double>(x));
  } else {
    return Done(n, x);
  }
}

// Term k of a sum, of a kind fixed at compile time: exact (Raw), or as its node stored it.
template <TTerm K>
inline long double RawTerm(const TNode& n, int k) {
  if constexpr (K == TNode::tmProduct) {
    return static_cast<long double>(*n.A[k]) * *n.B[k];
  } else if constexpr (K == TNode::tmQuotient) {
    return static_cast<long double>(*n.A[k]) / *n.B[k];
  } else {
    return *n.A[k];
  }
}
template <TTerm K>
inline long double StoredTerm(const TNode& n, int k) {
  if constexpr (K == TNode::tmPlain) {
    return *n.A[k];
  } else {
    return Rounded(RawTerm<K>(n, k));
  }
}
// The same for a kind read at run time.
inline long double StoredTerm(const TNode& n, int k) {
  switch (n.Kind[k]) {
    case TNode::tmProduct:
      return StoredTerm<TNode::tmProduct>(n, k);
    case TNode::tmQuotient:
      return StoredTerm<TNode::tmQuotient>(n, k);
    case TNode::tmPlain:
      break;
  }
  return *n.A[k];
}

// "a*b", "x*x+y*y", "sqrt(x*x+y*y)", "a*b+c-d/e": up to three terms whose kinds are fixed at
// compile time, so no term's kind is asked when they run. With F, F1 of the sum.
template <bool F, TTerm K0, TTerm... K>
double RunTerms(TNode& n) {
  if constexpr (sizeof...(K) == 0) {
    return Store<F>(n, RawTerm<K0>(n, 0));
  } else {
    constexpr int last = sizeof...(K);
    long double acc = StoredTerm<K0>(n, 0);
    int k = 0;
    (
        [&] {
          ++k;
          const long double term = StoredTerm<K>(n, k);
          const long double x = n.Minus[k] ? acc - term : acc + term;
          if (k < last) {
            acc = Rounded(x);
          } else {
            acc = x;
          }
        }(),
        ...);
    return Store<F>(n, acc);
  }
}

// "a+b+c+x", "a*x+b*y+c*z-x*y": four to six terms, kinds read as they run.
template <int N, bool F>
double RunSum(TNode& n) {
  long double acc = StoredTerm(n, 0);
  for (int k = 1; k < N - 1; ++k) {
    const long double term = StoredTerm(n, k);
    acc = Rounded(n.Minus[k] ? acc - term : acc + term);
  }
  const long double term = StoredTerm(n, N - 1);
  return Store<F>(n, n.Minus[N - 1] ? acc - term : acc + term);
}

// "a*b*c", "a/b/c*x": three or four factors with each step's * or / fixed (D: divide).
template <bool... D>
double RunFactors(TNode& n) {
  constexpr int last = sizeof...(D);
  long double acc = *n.A[0];
  int k = 0;
  (
      [&] {
        ++k;
        const long double x = D ? acc / *n.A[k] : acc * *n.A[k];
        acc = k < last ? Rounded(x) : x;
      }(),
      ...);
  return Done(n, acc);
}
// Five or six factors, each step's * or / read as it runs (Minus[k]: divide).
template <int N>
double RunProduct(TNode& n) {
  long double acc = *n.A[0];
  for (int k = 1; k < N - 1; ++k) acc = Rounded(n.Minus[k] ? acc / *n.A[k] : acc * *n.A[k]);
  return Done(n, n.Minus[N - 1] ? acc / *n.A[N - 1] : acc * *n.A[N - 1]);
}

// "sin(x)*cos(y)", "x^y+y^x": two calls and the step between them; each call's value is a
// double, as its own node would store it.
template <TRealOp Op>
long double Join(long double f, double g) {
  if constexpr (Op == TRealOp::Mul) {
    return f * g;
  } else if constexpr (Op == TRealOp::Div) {
    return f / g;
  } else if constexpr (Op == TRealOp::Add) {
    return f + g;
  } else {
    return f - g;
  }
}
template <TRealOp Op>
double RunPair1(TNode& n) {
  const double f = n.F1(*n.A[0]);
  return Done(n, Join<Op>(f, n.G1(*n.A[1])));
}
template <TRealOp Op>
double RunPair2(TNode& n) {
  const double f = n.F2(*n.A[0], *n.B[0]);
  return Done(n, Join<Op>(f, n.G2(*n.A[1], *n.B[1])));
}

// "(a+b)*(c-x)", "a/(b+c)": a product or quotient whose sides are each a sum of two (L, R) or
// one operand; a sum is rounded as its node would store it.
template <bool S>
inline long double Side(const double* const* ops, bool minus) {
  if constexpr (S) {
    const long double x = *ops[0];
    return Rounded(minus ? x - *ops[1] : x + *ops[1]);
  } else {
    return *ops[0];
  }
}
template <TRealOp Op, bool L, bool R>
double RunOfSums(TNode& n) {
  const long double l = Side<L>(n.A, n.Minus[0]);
  const long double r = Side<R>(n.B, n.Minus[1]);
  return Done(n, Op == TRealOp::Mul ? l * r : l / r);
}

// Negated in extended precision, as the list does: a signalling NaN comes out quiet.
double RunNeg(TNode& n) { return Done(n, -static_cast<long double>(*n.A[0])); }
double RunSame(TNode& n) { return Done(n, *n.A[0]); }
double RunPercent(TNode& n) { return Done(n, *n.A[0] * 0.01L); }
double RunCall1(TNode& n) { return Call(n, n.F1, *n.A[0]); }
double RunCall2(TNode& n) { return Call(n, n.F2, *n.A[0], *n.A[1]); }

double Truth(bool b) { return b ? 1.0 : 0.0; }
double RunGt(TNode& n) { return Done(n, Truth(Math387::NGreater(*n.A[0], *n.A[1]))); }
double RunGe(TNode& n) { return Done(n, Truth(Math387::NGreaterEq(*n.A[0], *n.A[1]))); }
double RunLe(TNode& n) { return Done(n, Truth(Math387::NLessEq(*n.A[0], *n.A[1]))); }
double RunLt(TNode& n) { return Done(n, Truth(Math387::NLess(*n.A[0], *n.A[1]))); }
double RunNe(TNode& n) { return Done(n, Truth(Math387::NNotEqual(*n.A[0], *n.A[1]))); }
double RunEq(TNode& n) { return Done(n, Truth(Math387::NEqual(*n.A[0], *n.A[1]))); }

// "x^3": the exponent fixed and whole.
template <int32_t E>
double RunPowerBy(TNode& n) {
  return Done(n, Math387::ext::IntPower(static_cast<long double>(*n.A[0]), E));
}
// "intpower(x, y)": the exponent rounded at evaluation, in the rounding mode of the moment.
double RunIntPower(TNode& n) {
  const double exponent = *n.A[1];
  if (std::isnan(exponent)) return Done(n, Math387::NaN);
  return Done(n, Math387::ext::IntPower(static_cast<long double>(*n.A[0]),
                                        Math387::RoundToInt32(exponent)));
}

// --- generated families -------------------------------------------------------------------

// Sums of N terms: routine I has the kinds of I's base-3 digits.
template <bool F, int N, int I>
constexpr TRealRoutine TermsRoutine() {
  if constexpr (N == 1) {
    return RunTerms<F, TTerm(I)>;
  } else if constexpr (N == 2) {
    return RunTerms<F, TTerm(I / 3), TTerm(I % 3)>;
  } else {
    return RunTerms<F, TTerm(I / 9), TTerm(I / 3 % 3), TTerm(I % 3)>;
  }
}
template <bool F, int N, int... I>
constexpr auto TermsFamily(std::integer_sequence<int, I...>) {
  return std::array<TRealRoutine, sizeof...(I)>{TermsRoutine<F, N, I>()...};
}
template <bool F, int N>
constexpr auto kTerms = TermsFamily<F, N>(std::make_integer_sequence<int, N == 1   ? 3
                                                                          : N == 2 ? 9
                                                                                   : 27>{});

// Chains of N factors: step k divides when bit k-1 of I is set.
template <int N, int I>
constexpr TRealRoutine FactorsRoutine() {
  if constexpr (N == 3) {
    return RunFactors<(I & 1) != 0, (I & 2) != 0>;
  } else {
    return RunFactors<(I & 1) != 0, (I & 2) != 0, (I & 4) != 0>;
  }
}
template <int N, int... I>
constexpr auto FactorsFamily(std::integer_sequence<int, I...>) {
  return std::array<TRealRoutine, sizeof...(I)>{FactorsRoutine<N, I>()...};
}
template <int N>
constexpr auto kFactors = FactorsFamily<N>(std::make_integer_sequence<int, 1 << (N - 1)>{});

template <int32_t... E>
constexpr auto PowerFamily(std::integer_sequence<int32_t, E...>) {
  return std::array<TRealRoutine, sizeof...(E)>{RunPowerBy<E>...};
}
constexpr auto kPowerBy = PowerFamily(std::make_integer_sequence<int32_t, 17>{});

// Call pairs by their step: Add, Sub, Mul, Div.
constexpr TRealRoutine kPair1[] = {RunPair1<TRealOp::Add>, RunPair1<TRealOp::Sub>,
                                   RunPair1<TRealOp::Mul>, RunPair1<TRealOp::Div>};
constexpr TRealRoutine kPair2[] = {RunPair2<TRealOp::Add>, RunPair2<TRealOp::Sub>,
                                   RunPair2<TRealOp::Mul>, RunPair2<TRealOp::Div>};

// Products and quotients of sums by N, their sides (bit 0 left, bit 1 right; 0 is no such).
constexpr TRealRoutine kOfSums[] = {nullptr,
                                    RunOfSums<TRealOp::Mul, true, false>,
                                    RunOfSums<TRealOp::Mul, false, true>,
                                    RunOfSums<TRealOp::Mul, true, true>,
                                    nullptr,
                                    RunOfSums<TRealOp::Div, true, false>,
                                    RunOfSums<TRealOp::Div, false, true>,
                                    RunOfSums<TRealOp::Div, true, true>};

template <TRealRoutine R>
constexpr TRealRoutine kOne[] = {R};

// --- the routine table ----------------------------------------------------------------------

// One family a line: the instructions it serves (code, whether a function of the sum, the
// count N, -1 for any) and its routines, indexed by Key below.
struct TFamily {
  TCode Code;
  bool OfSum;
  int32_t N;
  std::span<const TRealRoutine> Routines;
};
constexpr TFamily kFamilies[] = {
    {TCode::Sum, false, 1, kTerms<false, 1>},
    {TCode::Sum, false, 2, kTerms<false, 2>},
    {TCode::Sum, false, 3, kTerms<false, 3>},
    {TCode::Sum, false, 4, kOne<RunSum<4, false>>},
    {TCode::Sum, false, 5, kOne<RunSum<5, false>>},
    {TCode::Sum, false, 6, kOne<RunSum<6, false>>},
    {TCode::Sum, true, 1, kTerms<true, 1>},
    {TCode::Sum, true, 2, kTerms<true, 2>},
    {TCode::Sum, true, 3, kTerms<true, 3>},
    {TCode::Sum, true, 4, kOne<RunSum<4, true>>},
    {TCode::Sum, true, 5, kOne<RunSum<5, true>>},
    {TCode::Sum, true, 6, kOne<RunSum<6, true>>},
    {TCode::Chain, false, 3, kFactors<3>},
    {TCode::Chain, false, 4, kFactors<4>},
    {TCode::Chain, false, 5, kOne<RunProduct<5>>},
    {TCode::Chain, false, 6, kOne<RunProduct<6>>},
    {TCode::CallPair1, false, -1, kPair1},
    {TCode::CallPair2, false, -1, kPair2},
    {TCode::OfSums, false, -1, kOfSums},
    {TCode::PowerBy, false, -1, kPowerBy},
    {TCode::IntPower, false, -1, kOne<RunIntPower>},
    {TCode::Call1, false, -1, kOne<RunCall1>},
    {TCode::Call2, false, -1, kOne<RunCall2>},
    {TCode::Neg, false, -1, kOne<RunNeg>},
    {TCode::Same, false, -1, kOne<RunSame>},
    {TCode::Percent, false, -1, kOne<RunPercent>},
    {TCode::Gt, false, -1, kOne<RunGt>},
    {TCode::Ge, false, -1, kOne<RunGe>},
    {TCode::Le, false, -1, kOne<RunLe>},
    {TCode::Lt, false, -1, kOne<RunLt>},
    {TCode::Ne, false, -1, kOne<RunNe>},
    {TCode::Eq, false, -1, kOne<RunEq>},
};

// The index of an instruction's routine in its family.
std::size_t Key(const TInstr& instr) {
  switch (instr.Code) {
    case TCode::Sum: {
      if (instr.N > 3) return 0;
      std::size_t key = 0;
      for (int k = 0; k < instr.N; ++k) key = key * 3 + instr.Kind[k];
      return key;
    }
    case TCode::Chain: {
      if (instr.N > 4) return 0;
      std::size_t divides = 0;
      for (int k = 1; k < instr.N; ++k) divides |= (instr.Minus[k] ? 1u : 0u) << (k - 1);
      return divides;
    }
    case TCode::CallPair1:
    case TCode::CallPair2:
      return instr.Join == TRealOp::Add   ? 0
             : instr.Join == TRealOp::Sub ? 1
             : instr.Join == TRealOp::Mul ? 2
                                          : 3;
    case TCode::OfSums:
      return (instr.Join == TRealOp::Div ? 4u : 0u) + static_cast<std::size_t>(instr.N);
    case TCode::PowerBy:
      return static_cast<std::size_t>(instr.N);
    default:
      return 0;
  }
}

}  // namespace

TRealRoutine Select(const TInstr& instr) {
  for (const TFamily& f : kFamilies)
    if (f.Code == instr.Code && f.OfSum == instr.OfSum && (f.N < 0 || f.N == instr.N)) {
      const std::size_t key = Key(instr);
      return key < f.Routines.size() ? f.Routines[key] : nullptr;
    }
  return nullptr;
}

double RunNodes(TRealNode& head) {
  // The head is the first member of its program (a standard-layout struct). Its nodes are not
  // chained: each answers its own value, stored here (a routine need not store the last).
  const TRealProgram& p = reinterpret_cast<const TRealProgram&>(head);
  TRealNode* const last = p.End - 1;
  for (TRealNode* n = p.Nodes; n != last; ++n) n->Value = n->Run(*n);
  return last->Run(*last);
}

}  // namespace veskmath::qel::real
