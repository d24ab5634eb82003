// The real program: the routines of the usual all-real evaluation, chosen at compile time,
// and the compile that picks them. Every routine computes exactly what the list's routine
// computes for real operands (long double arithmetic, rounded to double when stored).
#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "math/Elementary.h"
#include "math/Utilities.h"
#include "parser/QelParseExpr.h"

namespace veskmath::qel {

namespace {

using TNode = TRealNode;
constexpr int kMaxTerms = TRealNode::kMaxTerms;

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

// Term k of a sum node, rounded as the node it stands for would store it.
inline long double Term(const TNode& n, int k) {
  switch (n.Kind[k]) {
    case TNode::tmProduct:
      return Rounded(static_cast<long double>(*n.A[k]) * *n.B[k]);
    case TNode::tmQuotient:
      return Rounded(static_cast<long double>(*n.A[k]) / *n.B[k]);
    case TNode::tmPlain:
      break;
  }
  return *n.A[k];
}

template <bool F>
inline double Store(TNode& n, long double x) {
  if constexpr (F) {
    return n.Value = n.F1(static_cast<double>(x));
  } else {
    return n.Value = static_cast<double>(x);
  }
}

// "a*x+b*y-c", "x/(1+x*x)+y", "a+b+c+x"; with F, "sin(a+b)", "sqrt(x*x+y*y)". The same
// operations in the same order as the chain of + - * / nodes it stands for, each result
// rounded to double where that node would store it.
template <int N, bool F>
double RunSum(TNode& n) {
  if constexpr (N == 1) {
    switch (n.Kind[0]) {
      case TNode::tmProduct:
        return Store<F>(n, static_cast<long double>(*n.A[0]) * *n.B[0]);
      case TNode::tmQuotient:
        return Store<F>(n, static_cast<long double>(*n.A[0]) / *n.B[0]);
      case TNode::tmPlain:
        break;
    }
    return Store<F>(n, *n.A[0]);
  } else {
    long double acc = Term(n, 0);
    for (int k = 1; k < N - 1; ++k) {
      const long double term = Term(n, k);
      acc = Rounded(n.Minus[k] ? acc - term : acc + term);
    }
    const long double term = Term(n, N - 1);
    return Store<F>(n, n.Minus[N - 1] ? acc - term : acc + term);
  }
}

template <int... I>
constexpr auto SumTable(std::integer_sequence<int, I...>, std::false_type) {
  return std::array<double (*)(TNode&), sizeof...(I)>{RunSum<I + 1, false>...};
}
template <int... I>
constexpr auto SumTable(std::integer_sequence<int, I...>, std::true_type) {
  return std::array<double (*)(TNode&), sizeof...(I)>{RunSum<I + 1, true>...};
}
constexpr auto kSum = SumTable(std::make_integer_sequence<int, kMaxTerms>{}, std::false_type{});
constexpr auto kFuncOfSum =
    SumTable(std::make_integer_sequence<int, kMaxTerms>{}, std::true_type{});

// A sum of up to three terms with the kinds of its terms fixed at compile time: "a*b",
// "x*x+y*y", "sqrt(x*x+y*y)", "a*b+c-d/e" ask no questions of a term's kind when they run.
template <TNode::TTerm K>
inline long double FixedTerm(const TNode& n, int k) {
  if constexpr (K == TNode::tmProduct) {
    return static_cast<long double>(*n.A[k]) * *n.B[k];
  } else if constexpr (K == TNode::tmQuotient) {
    return static_cast<long double>(*n.A[k]) / *n.B[k];
  } else {
    return *n.A[k];
  }
}
// Term k as the node it stands for would store it.
template <TNode::TTerm K>
inline long double StoredTerm(const TNode& n, int k) {
  if constexpr (K == TNode::tmPlain) {
    return *n.A[k];
  } else {
    return Rounded(FixedTerm<K>(n, k));
  }
}
template <bool F, TNode::TTerm K0, TNode::TTerm... K>
double RunTerms(TNode& n) {
  if constexpr (sizeof...(K) == 0) {
    return Store<F>(n, FixedTerm<K0>(n, 0));
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
            Store<F>(n, x);
          }
        }(),
        ...);
    return n.Value;
  }
}
// Routine I of the N-term sums: the kinds of the terms are I's base-3 digits.
template <bool F, int N, int I>
constexpr double (*KindRoutine())(TNode&) {
  using T = TNode::TTerm;
  if constexpr (N == 1) {
    return RunTerms<F, T(I)>;
  } else if constexpr (N == 2) {
    return RunTerms<F, T(I / 3), T(I % 3)>;
  } else {
    return RunTerms<F, T(I / 9), T(I / 3 % 3), T(I % 3)>;
  }
}
template <bool F, int N, int... I>
constexpr auto KindTable(std::integer_sequence<int, I...>) {
  return std::array<double (*)(TNode&), sizeof...(I)>{KindRoutine<F, N, I>()...};
}
template <bool F>
constexpr auto kKinds1 = KindTable<F, 1>(std::make_integer_sequence<int, 3>{});
template <bool F>
constexpr auto kKinds2 = KindTable<F, 2>(std::make_integer_sequence<int, 9>{});
template <bool F>
constexpr auto kKinds3 = KindTable<F, 3>(std::make_integer_sequence<int, 27>{});

// The routine for a sum node whose terms are filled in.
template <bool F>
double (*SumRoutine(const TNode& n))(TNode&) {
  const auto& kind = n.Kind;
  if (n.N == 1) return kKinds1<F>[kind[0]];
  if (n.N == 2) return kKinds2<F>[kind[0] * 3 + kind[1]];
  if (n.N == 3) return kKinds3<F>[kind[0] * 9 + kind[1] * 3 + kind[2]];
  return F ? kFuncOfSum[static_cast<std::size_t>(n.N - 1)]
           : kSum[static_cast<std::size_t>(n.N - 1)];
}

// "a+b", "a-b": the commonest sum, without the questions of the general one.
double RunAdd(TNode& n) {
  return n.Value = static_cast<double>(static_cast<long double>(*n.A[0]) + *n.A[1]);
}
double RunSub(TNode& n) {
  return n.Value = static_cast<double>(static_cast<long double>(*n.A[0]) - *n.A[1]);
}

// "a*b*c*x", "a/b/c*x", "exp(x)*cos(y)*sin(z)": a chain of * and / (Minus[k]: divide).
template <int N>
double RunProduct(TNode& n) {
  if constexpr (N == 1) {
    return n.Value = *n.A[0];
  }
  long double acc = *n.A[0];
  for (int k = 1; k < N - 1; ++k) acc = Rounded(n.Minus[k] ? acc / *n.A[k] : acc * *n.A[k]);
  return n.Value = static_cast<double>(n.Minus[N - 1] ? acc / *n.A[N - 1] : acc * *n.A[N - 1]);
}
template <int... I>
constexpr auto ProductTable(std::integer_sequence<int, I...>) {
  return std::array<double (*)(TNode&), sizeof...(I)>{RunProduct<I + 1>...};
}
constexpr auto kProduct = ProductTable(std::make_integer_sequence<int, kMaxTerms>{});

// A chain of three or four factors with each step's * or / fixed at compile time (D: divide).
template <bool... D>
double RunFactors(TNode& n) {
  constexpr int last = sizeof...(D);
  long double acc = *n.A[0];
  int k = 0;
  (
      [&] {
        ++k;
        const long double x = D ? acc / *n.A[k] : acc * *n.A[k];
        if (k < last) {
          acc = Rounded(x);
        } else {
          n.Value = static_cast<double>(x);
        }
      }(),
      ...);
  return n.Value;
}
// Routine I of the chains of N factors: step k divides when bit k-1 of I is set.
template <int N, int I>
constexpr double (*FactorRoutine())(TNode&) {
  if constexpr (N == 3) {
    return RunFactors<(I & 1) != 0, (I & 2) != 0>;
  } else {
    return RunFactors<(I & 1) != 0, (I & 2) != 0, (I & 4) != 0>;
  }
}
template <int N, int... I>
constexpr auto FactorTable(std::integer_sequence<int, I...>) {
  return std::array<double (*)(TNode&), sizeof...(I)>{FactorRoutine<N, I>()...};
}
constexpr auto kFactors3 = FactorTable<3>(std::make_integer_sequence<int, 4>{});
constexpr auto kFactors4 = FactorTable<4>(std::make_integer_sequence<int, 8>{});

// The routine for a chain node whose factors are filled in.
double (*ChainRoutine(const TNode& n))(TNode&) {
  int divides = 0;
  for (int k = 1; k < n.N; ++k) divides |= (n.Minus[k] ? 1 : 0) << (k - 1);
  if (n.N == 3) return kFactors3[static_cast<std::size_t>(divides)];
  if (n.N == 4) return kFactors4[static_cast<std::size_t>(divides)];
  return kProduct[static_cast<std::size_t>(n.N - 1)];
}

// "sin(x)*cos(y)", "exp(a)/ln(b)", "sin(x)+cos(y)", "x^y+y^x": two functions of one or of two
// operands and the step between them in one node; each function's value is a double, as its
// own node would store it.
template <TRealOp Op>
double Join(long double f, double g) {
  if constexpr (Op == TRealOp::Mul) {
    return static_cast<double>(f * g);
  } else if constexpr (Op == TRealOp::Div) {
    return static_cast<double>(f / g);
  } else if constexpr (Op == TRealOp::Add) {
    return static_cast<double>(f + g);
  } else {
    return static_cast<double>(f - g);
  }
}
template <TRealOp Op>
double RunCalls(TNode& n) {
  const double f = n.F1(*n.A[0]);
  return n.Value = Join<Op>(f, n.G1(*n.A[1]));
}
template <TRealOp Op>
double RunCalls2(TNode& n) {
  const double f = n.F2(*n.A[0], *n.B[0]);
  return n.Value = Join<Op>(f, n.G2(*n.A[1], *n.B[1]));
}

double RunNeg(TNode& n) {
  return n.Value = static_cast<double>(-static_cast<long double>(*n.A[0]));
}
double RunSame(TNode& n) { return n.Value = *n.A[0]; }
double RunPercent(TNode& n) { return n.Value = static_cast<double>(*n.A[0] * 0.01L); }
double RunFunc1(TNode& n) { return n.Value = n.F1(*n.A[0]); }
double RunFunc2(TNode& n) { return n.Value = n.F2(*n.A[0], *n.A[1]); }

double RunGt(TNode& n) { return n.Value = Math387::NGreater(*n.A[0], *n.A[1]) ? 1.0 : 0.0; }
double RunGe(TNode& n) { return n.Value = Math387::NGreaterEq(*n.A[0], *n.A[1]) ? 1.0 : 0.0; }
double RunLe(TNode& n) { return n.Value = Math387::NLessEq(*n.A[0], *n.A[1]) ? 1.0 : 0.0; }
double RunLt(TNode& n) { return n.Value = Math387::NLess(*n.A[0], *n.A[1]) ? 1.0 : 0.0; }
double RunNe(TNode& n) { return n.Value = Math387::NNotEqual(*n.A[0], *n.A[1]) ? 1.0 : 0.0; }
double RunEq(TNode& n) { return n.Value = Math387::NEqual(*n.A[0], *n.A[1]) ? 1.0 : 0.0; }

// "x^3": the exponent fixed and whole.
template <int32_t E>
double RunPowerBy(TNode& n) {
  return n.Value =
             static_cast<double>(Math387::ext::IntPower(static_cast<long double>(*n.A[0]), E));
}
template <int32_t... E>
constexpr auto PowerTable(std::integer_sequence<int32_t, E...>) {
  return std::array<double (*)(TNode&), sizeof...(E)>{RunPowerBy<E>...};
}
constexpr auto kPowerBy = PowerTable(std::make_integer_sequence<int32_t, 17>{});

// "intpower(x, y)": the exponent rounded at evaluation, in the rounding mode of the moment.
double RunIntPower(TNode& n) {
  const double exponent = *n.A[1];
  if (std::isnan(exponent)) return n.Value = Math387::NaN;
  return n.Value = static_cast<double>(Math387::ext::IntPower(static_cast<long double>(*n.A[0]),
                                                              Math387::RoundToInt32(exponent)));
}

}  // namespace

void TQelExpression1::Promote() {
  TCompiled* const compiled = FWaiting;
  compiled->Promoted = true;
  compiled->HasReal = MakeRealProgram(compiled->Nodes.get(), compiled->Count, compiled->Real);
  SetCurrent(compiled);
}

// Made from the list: each argument slot points at another node's Res or at a value's own
// reference. Into the storage the compile left behind the list's nodes.
bool TQelExpression1::MakeRealProgram(const TExpressionRec* nodes, int32_t count,
                                      TRealProgram& program) {
  program.End = program.Nodes;

  // Builds the nodes of one sub-expression after those of its operands; answers where its
  // value is read, or nil when it has no real form.
  struct TBuilder {
    const TExpressionRec* First;
    int32_t Count;
    TRealProgram& Program;

    // A node of the list, or a value (Rec nil) read through Ref.
    struct TView {
      const TExpressionRec* Rec;
      TValueRef* Ref;
    };
    TView Arg(TView v, int k) const {
      TValueRef* ref = v.Rec->Args[k];
      const auto at = reinterpret_cast<std::uintptr_t>(ref);
      const auto first = reinterpret_cast<std::uintptr_t>(First);
      if (ref != nullptr && at >= first && at < first + Count * sizeof(TExpressionRec)) {
        const TExpressionRec* rec = First + (at - first) / sizeof(TExpressionRec);
        if (&rec->Res == ref) return {rec, ref};
      }
      return {nullptr, ref};
    }
    static TRealOp Op(TView n) {
      return n.Rec == nullptr ? TRealOp::None : n.Rec->ExprWord->GetRealForm().Op;
    }
    static bool IsSum(TView n) {
      const TRealOp op = Op(n);
      return op == TRealOp::Add || op == TRealOp::Sub;
    }
    // "x^3": linking chose the routine for a fixed whole exponent; answers it, or -1.
    int32_t FixedExponent(TView n) const {
      if (Op(n) != TRealOp::IntPower || n.Rec->Oper == n.Rec->ExprWord->DoubleFunc()) return -1;
      const TValueRef* e = Arg(n, 1).Ref;
      return Math387::RoundToInt32(*e->Real);
    }
    // "x^2" with a fixed exponent 2: the product x*x, bit for bit.
    bool IsSquare(TView n) const { return FixedExponent(n) == 2; }

    TRealNode* NewNode() { return new (Program.End++) TRealNode{}; }

    // A value: read where it lives; its kind joins the guard (a number of the expression's
    // own never changes kind, so guarding it costs nothing after the first look).
    const double* Leaf(TView n) {
      TValueRef* ref = n.Ref;
      if (ref == nullptr || ref->Real == nullptr) return nullptr;
      bool known = false;
      for (int32_t i = 0; i < Program.Guarded; ++i)
        known = known || Program.Guard[i] == &ref->IsCplx;
      if (!known) {
        if (Program.Guarded == TRealProgram::kMaxGuarded) return nullptr;
        Program.Guard[Program.Guarded++] = &ref->IsCplx;
      }
      return ref->Real;
    }

    // One term of a sum: a product or quotient of two operands, a square, or an operand.
    bool Term(TView n, bool minus, TRealNode& sum, int32_t k) {
      sum.Minus[k] = minus;
      const TRealOp op = Op(n);
      if ((op == TRealOp::Mul || op == TRealOp::Div) && !IsFactor(Arg(n, 0))) {
        sum.Kind[k] = op == TRealOp::Mul ? TRealNode::tmProduct : TRealNode::tmQuotient;
        sum.A[k] = Build(Arg(n, 0));
        sum.B[k] = Build(Arg(n, 1));
        return sum.A[k] != nullptr && sum.B[k] != nullptr;
      }
      if (IsSquare(n)) {
        sum.Kind[k] = TRealNode::tmProduct;
        sum.A[k] = sum.B[k] = Build(Arg(n, 0));
      } else {
        sum.Kind[k] = TRealNode::tmPlain;
        sum.A[k] = Build(n);
      }
      return sum.A[k] != nullptr;
    }

    // The terms of a chain of + and - ("a-b+c*d" -> a, -b, +c*d), or of one product, into
    // node; a chain longer than a node holds begins with a sum node of its own.
    bool Terms(TView n, TRealNode& node) {
      TView spine[kMaxTerms];
      int32_t ops = 0;
      TView base = n;
      while (ops < kMaxTerms - 1 && IsSum(base)) {
        spine[ops++] = base;
        base = Arg(base, 0);
      }
      // The operand nodes are built before the node that reads them is filled in.
      TRealNode scratch{};
      if (!Term(base, false, scratch, 0)) return false;
      for (int32_t k = 1; k <= ops; ++k) {
        const TView op = spine[ops - k];
        if (!Term(Arg(op, 1), Op(op) == TRealOp::Sub, scratch, k)) return false;
      }
      for (int32_t k = 0; k <= ops; ++k) {
        node.A[k] = scratch.A[k];
        node.B[k] = scratch.B[k];
        node.Kind[k] = scratch.Kind[k];
        node.Minus[k] = scratch.Minus[k];
      }
      node.N = ops + 1;
      return true;
    }

    // A sum or term of two operands that are the last two nodes built, each a function of a
    // value or of an earlier node: the two become one node that calls both functions.
    bool FuseCalls(const TRealNode& sum) {
      const bool pair =
          sum.N == 2 && sum.Kind[0] == TRealNode::tmPlain && sum.Kind[1] == TRealNode::tmPlain;
      const bool term = sum.N == 1 && sum.Kind[0] != TRealNode::tmPlain;
      if (!pair && !term) return false;
      if (Program.End - Program.Nodes < 2) return false;
      TRealNode& f = Program.End[-2];
      TRealNode& g = Program.End[-1];
      const double* second = pair ? sum.A[1] : sum.B[0];
      const bool ones = f.Run == RunFunc1 && g.Run == RunFunc1;
      const bool twos = f.Run == RunFunc2 && g.Run == RunFunc2;
      if (sum.A[0] != &f.Value || second != &g.Value || !(ones || twos)) return false;
      const TRealOp op = pair ? (sum.Minus[1] ? TRealOp::Sub : TRealOp::Add)
                              : (sum.Kind[0] == TRealNode::tmProduct ? TRealOp::Mul : TRealOp::Div);
      TRealNode call{};
      call.F1 = f.F1;
      call.G1 = g.F1;
      call.F2 = f.F2;
      call.G2 = g.F2;
      call.A[0] = f.A[0];
      call.B[0] = f.A[1];
      call.A[1] = g.A[0];
      call.B[1] = g.A[1];
      switch (op) {
        case TRealOp::Mul:
          call.Run = ones ? RunCalls<TRealOp::Mul> : RunCalls2<TRealOp::Mul>;
          break;
        case TRealOp::Div:
          call.Run = ones ? RunCalls<TRealOp::Div> : RunCalls2<TRealOp::Div>;
          break;
        case TRealOp::Add:
          call.Run = ones ? RunCalls<TRealOp::Add> : RunCalls2<TRealOp::Add>;
          break;
        default:
          call.Run = ones ? RunCalls<TRealOp::Sub> : RunCalls2<TRealOp::Sub>;
          break;
      }
      --Program.End;
      f = call;
      return true;
    }

    static bool IsFactor(TView n) {
      const TRealOp op = Op(n);
      return op == TRealOp::Mul || op == TRealOp::Div;
    }
    // A chain of three or more factors ("a*b*c", "a/b/c*x") as one node, or nil.
    const double* Product(TView n, bool& done) {
      done = false;
      if (!IsFactor(n) || !IsFactor(Arg(n, 0))) return nullptr;
      TView spine[kMaxTerms];
      int32_t ops = 0;
      TView base = n;
      while (ops < kMaxTerms - 1 && IsFactor(base)) {
        spine[ops++] = base;
        base = Arg(base, 0);
      }
      done = true;
      TRealNode chain{};
      chain.A[0] = Build(base);
      if (chain.A[0] == nullptr) return nullptr;
      for (int32_t k = 1; k <= ops; ++k) {
        const TView op = spine[ops - k];
        chain.Minus[k] = Op(op) == TRealOp::Div;
        chain.A[k] = Build(Arg(op, 1));
        if (chain.A[k] == nullptr) return nullptr;
      }
      chain.N = ops + 1;
      chain.Run = ChainRoutine(chain);
      TRealNode* node = NewNode();
      *node = chain;
      return &node->Value;
    }

    const double* Build(TView n) {
      if (n.Rec == nullptr) return Leaf(n);
      const TRealForm form = n.Rec->ExprWord->GetRealForm();
      const int32_t arity = n.Rec->ExprWord->GetNFunctionArg();
      bool done;
      if (const double* chain = Product(n, done); done) return chain;
      switch (form.Op) {
        case TRealOp::Add:
        case TRealOp::Sub:
        case TRealOp::Mul:
        case TRealOp::Div: {
          if (arity != 2) return nullptr;
          TRealNode sum{};
          if (!Terms(n, sum)) return nullptr;
          if (FuseCalls(sum)) return &Program.End[-1].Value;
          TRealNode* node = NewNode();
          *node = sum;
          node->Run = SumRoutine<false>(sum);
          if (sum.N == 2 && sum.Kind[0] == TRealNode::tmPlain && sum.Kind[1] == TRealNode::tmPlain)
            node->Run = sum.Minus[1] ? RunSub : RunAdd;
          return &node->Value;
        }
        case TRealOp::Func1: {
          if (arity != 1 || form.F1 == nullptr) return nullptr;
          const TView arg = Arg(n, 0);
          TRealNode call{};
          call.F1 = form.F1;
          if (IsSum(arg) || Op(arg) == TRealOp::Mul || Op(arg) == TRealOp::Div) {
            // "sqrt(x*x+y*y)", "tanh(x/y)": one node
            if (!Terms(arg, call)) return nullptr;
            call.Run = SumRoutine<true>(call);
          } else {
            call.A[0] = Build(arg);
            if (call.A[0] == nullptr) return nullptr;
            call.Run = RunFunc1;
          }
          TRealNode* node = NewNode();
          *node = call;
          return &node->Value;
        }
        case TRealOp::IntPower: {
          if (arity != 2) return nullptr;
          const double* base = Build(Arg(n, 0));
          if (base == nullptr) return nullptr;
          double (*run)(TRealNode&) = RunIntPower;
          const double* exponent = nullptr;
          if (const int32_t fixed = FixedExponent(n);
              fixed >= 0 && fixed < static_cast<int32_t>(kPowerBy.size())) {
            run = kPowerBy[static_cast<std::size_t>(fixed)];
          } else {
            exponent = Build(Arg(n, 1));
            if (exponent == nullptr) return nullptr;
          }
          TRealNode* node = NewNode();
          node->Run = run;
          node->A[0] = base;
          node->A[1] = exponent;
          return &node->Value;
        }
        case TRealOp::None:
          return nullptr;
        default:
          break;
      }
      // The other one- and two-operand forms.
      double (*run)(TRealNode&) = nullptr;
      int32_t want = 2;
      switch (form.Op) {
        case TRealOp::Neg:
          run = RunNeg;
          want = 1;
          break;
        case TRealOp::Same:
          run = RunSame;
          want = 1;
          break;
        case TRealOp::Percent:
          run = RunPercent;
          want = 1;
          break;
        case TRealOp::Gt:
          run = RunGt;
          break;
        case TRealOp::Ge:
          run = RunGe;
          break;
        case TRealOp::Le:
          run = RunLe;
          break;
        case TRealOp::Lt:
          run = RunLt;
          break;
        case TRealOp::Ne:
          run = RunNe;
          break;
        case TRealOp::Eq:
          run = RunEq;
          break;
        case TRealOp::Func2:
          run = form.F2 != nullptr ? RunFunc2 : nullptr;
          break;
        default:
          break;
      }
      if (run == nullptr || arity != want) return nullptr;
      const double* a = Build(Arg(n, 0));
      const double* b = want == 2 ? Build(Arg(n, 1)) : nullptr;
      if (a == nullptr || (want == 2 && b == nullptr)) return nullptr;
      TRealNode* node = NewNode();
      node->Run = run;
      node->F2 = form.F2;
      node->A[0] = a;
      node->A[1] = b;
      return &node->Value;
    }
  } builder{nodes, count, program};

  const TExpressionRec& root = nodes[count - 1];
  // A lone value: its own storage is the result.
  program.Result = root.ExprWord->GetIsVariable() ? builder.Leaf({nullptr, root.Args[0]})
                                                  : builder.Build({&root, nullptr});
  if (program.Result == nullptr) return false;
  // Run answers the last node's value in place of Result.
  assert(program.End == program.Nodes || program.Result == &program.End[-1].Value);
  return true;
}

}  // namespace veskmath::qel
