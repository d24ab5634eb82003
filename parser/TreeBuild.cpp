// The tree builder: word sequence -> tree of nodes by precedence splitting, argument check,
// constant folding and linking into the flat evaluation list.
//
//   tree     -> value | prefix-op tree | tree postfix-op | tree binop tree
//             | function "(" tree { separator tree } ")"
//
// A smaller precedence number binds more tightly; equal precedences group from the left
// ("a-b-c" -> (a-b)-c, "2^3^2" -> (2^3)^2).
#include <algorithm>
#include <cstdint>
#include <typeinfo>

#include "parser/QelParseExpr.h"

namespace veskmath::qel {

namespace {

inline TValueRef* AsSlot(PExpressionRec rec) { return reinterpret_cast<TValueRef*>(rec); }
inline PExpressionRec AsNode(TValueRef* slot) { return reinterpret_cast<PExpressionRec>(slot); }

// Children exist only below words that take arguments; a value leaf's Args[0] is the
// word's value reference, not a node.
inline bool HasChildNodes(PExpressionRec rec) {
  return rec->ExprWord == nullptr || !rec->ExprWord->GetIsVariable();
}

inline int32_t ArgCount(PExpressionRec rec) {
  return rec->ExprWord == nullptr ? 0 : rec->ExprWord->GetNFunctionArg();
}

}  // namespace

PExpressionRec TQelExpression1::MakeRec() {
  auto* rec = new TExpressionRec{};
  rec->Res.Real = &rec->RealValue;
  rec->Res.Cplx = &rec->CplxValue;
  rec->Res.IsCplx = false;
  return rec;
}

void TQelExpression1::DisposeTree(PExpressionRec rec) {
  if (rec == nullptr) return;
  // Every filled slot, also those beyond the word's arity that a refused compile filled.
  if (HasChildNodes(rec))
    for (TValueRef* slot : rec->Args) DisposeTree(AsNode(slot));
  delete rec;
}

void TQelExpression1::DisposeList(PExpressionRec first) {
  while (first != nullptr) {
    PExpressionRec next = first->Next;
    delete first;
    first = next;
  }
}

PExpressionRec TQelExpression1::MakeTree(std::unique_ptr<TExprCollection> words) {
  return BuildTree(*words, 0, words->Count());
}

// The words [from, to) of the compiled expression, viewed in place: sub-expressions are
// built from their stretch of the one word list, never from a copy of it.
PExpressionRec TQelExpression1::BuildTree(const TExprCollection& all, int32_t from, int32_t to) {
  TWordRange range{&all, from, to};
  TWordRange* const words = &range;
  // Puts a sub-tree into an argument slot. Operands the word does not take would be dropped
  // silently: they are refused after the argument check ("sin(1,2)", "10%3", "5!3",
  // "sin(x) random"); a slot beyond the node's eight is never written.
  auto place = [this](PExpressionRec node, int32_t slot, PExpressionRec tree) {
    const TExprWord* op = node->ExprWord;
    const bool beyond = slot >= op->GetNFunctionArg();
    const bool taken = slot < kMaxArgs && node->Args[slot] != nullptr;
    if ((beyond || taken) && FDeferredFault.empty()) {
      std::string_view suffix = msg::kOneOperandOnly;
      if (taken)
        suffix = msg::kOperandAfterFunction;
      else if (!op->GetIsOper())
        suffix = msg::kTooManyArgumentsFor;
      FDeferredFault = WordMessage(op->Name(), suffix);
    }
    if (slot >= kMaxArgs || taken) {
      DisposeTree(tree);
    } else {
      node->Args[slot] = AsSlot(tree);
    }
  };
  // A new tree of the words [first, last) of the current stretch.
  auto subTree = [this, &range](int32_t first, int32_t last) {
    return BuildTree(*range.Words, range.From + first, range.From + last);
  };

  PExpressionRec current = nullptr;
  try {
    if (words->Count() == 0) RaiseParserError(msg::kEmptyExpression);
    int32_t start = 0;
    for (;;) {
      // The tree built so far becomes the first argument of the next operator.
      PExpressionRec node = MakeRec();
      int32_t slot = 0;
      if (current != nullptr) {
        node->Args[0] = AsSlot(current);
        slot = 1;
      }
      current = node;
      words->EraseExtraBrackets();  // "((2+3))" -> "2+3"

      if (words->Count() == 1) {  // a leaf: value, string comparison, or argument-less word
        TExprWord* w = words->Word(0);
        // ",", "1+(,)", "x:=,": a separator alone is no operand (it has no routine to run)
        if (w->GetVarType() == vtComma) RaiseWordError(msg::kSyntaxErrorIn, FCompiling);
        current->ExprWord = w;
        current->Oper = w->DoubleFunc();
        if (w->GetIsVariable()) current->Args[0] = w->AsPointer();
        return current;
      }

      int32_t p = words->NextOper(start);
      // "1,2", "max((1,2),3)": no operator outside brackets
      if (p == words->Count()) RaiseWordError(msg::kSyntaxErrorIn, FCompiling);
      TExprWord* op = words->Word(p);
      current->ExprWord = op;
      current->Oper = op->DoubleFunc();
      const int32_t count = words->Count();

      if (!op->GetIsOper()) {
        // Function: "max(a, b)" -> max node with the argument trees in source order.
        if ((p > start || slot == 1) && FDeferredFault.empty()) {
          // "2 sin(x)", "sin(x)cos(y)": the words or tree before it would be dropped.
          FDeferredFault = WordMessage(op->Name(), msg::kOperandBeforeFunction);
        }
        if (slot == 1) {
          DisposeTree(AsNode(current->Args[0]));
          current->Args[0] = nullptr;
        }
        slot = 0;
        const int32_t q = p + 1;
        // "sin x", "2+sin": no bracketed argument list
        if (q >= count || words->Word(q)->GetVarType() != vtLeftBracket)
          RaiseWordError(op->Name(), msg::kNeedsBrackets);
        int32_t depth = 1;
        int32_t argStart = q;
        int32_t j = q;
        while (j < count - 1 && depth != 0) {
          const TVariableType t = words->Word(++j)->GetVarType();
          if (t == vtLeftBracket) {
            ++depth;
          } else if (t == vtRightBracket) {
            --depth;
          } else if (t == vtComma && depth == 1) {
            // "max(,1)": empty argument
            if (j == argStart + 1) RaiseParserError(msg::kEmptyArgument);
            place(current, slot, subTree(argStart + 1, j));
            ++slot;
            argStart = j;
          }
        }
        // "max(1,)": empty last argument
        if (j == argStart + 1) RaiseParserError(msg::kEmptyArgument);
        place(current, slot, subTree(argStart + 1, j));
        p = j;
      } else if (p > start) {
        // Left operand: "a*b" -> the words before "*" (only the first operator of a sequence
        // gets one this way; later ones take the tree built so far).
        place(current, slot, subTree(start, p));
        ++slot;
      }

      // Right operand: up to the next operator that binds no more tightly than op.
      // "a+b*c" -> a+(b*c); "-2^2" -> (-2)^2; "not a<b" -> not(a<b); "x:=a+b" -> x:=(a+b).
      int32_t e = p;
      do {
        e = words->NextOper(e + 1);
      } while (e < count && words->Word(e)->GetOperPrec() < op->GetOperPrec());
      if (e != p + 1) place(current, slot, subTree(p + 1, e));

      start = e;
      if (e >= count) return current;
    }
  } catch (...) {
    DisposeTree(current);
    throw;
  }
}

bool TQelExpression1::CheckArguments(PExpressionRec rec) const {
  // "2+", "max(1)": a slot within the arity left empty.
  const int32_t n = ArgCount(rec);
  for (int32_t k = 0; k < n; ++k) {
    if (rec->Args[k] == nullptr) return false;
    if (!CheckArguments(AsNode(rec->Args[k]))) return false;
  }
  return true;
}

bool TQelExpression1::ResultCanVary(PExpressionRec rec) const {
  if (rec->ExprWord->GetCanVary()) return true;
  const int32_t n = ArgCount(rec);
  for (int32_t k = 0; k < n; ++k)
    if (ResultCanVary(AsNode(rec->Args[k]))) return true;
  return false;
}

// Consumes rec: on failure every node of its tree has been released.
// "sin(pi/2)+x" -> 1 + x; "2*3" -> 6; a complex result whose imaginary part folds to 0
// becomes real ("i*i" -> -1).
PExpressionRec TQelExpression1::RemoveConstants(PExpressionRec rec) {
  MarkVarying(rec);
  return FoldMarked(rec);
}

// One bottom-up pass answers ResultCanVary for every node at once (asking it at every level
// is quadratic for chains such as "x+1+1+...+1"). The answer is kept in the node's Next,
// which is unused until linking: the node itself for "can vary", nil otherwise.
bool TQelExpression1::MarkVarying(PExpressionRec rec) {
  bool varies = rec->ExprWord->GetCanVary();
  const int32_t n = ArgCount(rec);
  for (int32_t k = 0; k < n; ++k) varies = MarkVarying(AsNode(rec->Args[k])) || varies;
  rec->Next = varies ? rec : nullptr;
  return varies;
}

// Top-down: a node that can vary keeps its word and has its arguments folded; the largest
// sub-trees that cannot vary are evaluated once and replaced by a constant. Clears every
// mark it passes, so no node reaches linking with one.
PExpressionRec TQelExpression1::FoldMarked(PExpressionRec rec) {
  const bool varies = rec->Next != nullptr;
  rec->Next = nullptr;
  if (varies) {
    try {
      const int32_t n = ArgCount(rec);
      for (int32_t k = 0; k < n; ++k) {
        PExpressionRec child = AsNode(rec->Args[k]);
        rec->Args[k] = nullptr;  // the child is consumed even when folding it fails
        rec->Args[k] = AsSlot(FoldMarked(child));
      }
    } catch (...) {
      DisposeTree(rec);
      throw;
    }
    return rec;
  }
  if (rec->ExprWord->GetIsVariable()) return rec;  // a constant leaf already

  bool isBool = false;
  bool isCplx = false;
  EvaluateDisposeTree(rec, isBool, isCplx);
  std::unique_ptr<TExprWord> word;
  if (isBool) {
    word = std::make_unique<TBooleanConstant>("", FFoldReal);
  } else if (isCplx) {
    word = std::make_unique<TDoubleConstant>("", FFoldCplx);
  } else {
    word = std::make_unique<TDoubleConstant>("", FFoldReal);
  }
  FConstants.Add(word.get());
  TExprWord* constant = word.release();
  PExpressionRec folded = MakeRec();
  folded->ExprWord = constant;
  folded->Oper = constant->DoubleFunc();
  folded->Args[0] = constant->AsPointer();
  return folded;
}

void TQelExpression1::EvaluateDisposeTree(PExpressionRec rec, bool& isBool, bool& isCplx) {
  FHead = nullptr;
  FTail = nullptr;
  if (rec->ExprWord->GetIsVariable()) {
    FHead = rec;
  } else {
    MakeLinkedList(rec);
  }
  struct ReleaseList {  // the list goes, whatever the evaluation does
    TQelExpression1* self;
    ~ReleaseList() {
      DisposeList(self->FHead);
      self->FHead = nullptr;
      self->FTail = nullptr;
    }
  } release{this};
  isBool = isBoolean();
  if (const TValueRef* result = EvaluateList(FHead)) {
    isCplx = result->IsCplx;
    if (isCplx) {
      FFoldCplx = *result->Cplx;
    } else {
      FFoldReal = *result->Real;
    }
  }
}

// Post-order: arguments before the node that uses them, siblings left to right, the root
// last. Value leaves leave the list: their parents read the word's storage directly.
//
// A node whose operands are known here may get a faster routine that gives the same values:
// "x^2" -> the integer power unrolled for the exponent 2.
TValueRef* TQelExpression1::MakeLinkedList(PExpressionRec rec) {
  TDoubleFunc faster = nullptr;
  if (const TExprWord::TFixedExponentForm form = rec->ExprWord->GetFixedExponentForm();
      form != nullptr && rec->Oper == rec->ExprWord->DoubleFunc()) {
    const TValueRef* exponent = FixedValue(AsNode(rec->Args[1]));
    if (exponent != nullptr && !exponent->IsCplx) faster = form(*exponent->Real);
  }
  const int32_t n = ArgCount(rec);
  for (int32_t k = 0; k < n; ++k) rec->Args[k] = MakeLinkedList(AsNode(rec->Args[k]));
  if (faster != nullptr) rec->Oper = faster;
  if (rec->ExprWord->GetIsVariable()) {
    TValueRef* ref = rec->Args[0];
    delete rec;
    return ref;
  }
  if (FHead == nullptr) {
    FHead = rec;
  } else {
    FTail->Next = rec;
  }
  FTail = rec;
  return &rec->Res;
}

// Only a number of this expression's own (a literal or a folded sub-expression) keeps its
// value for good: nothing else refers to it. A named constant can be assigned ("pi:=3"), a
// variable changes with its storage.
const TValueRef* TQelExpression1::FixedValue(PExpressionRec rec) const {
  TExprWord* w = rec->ExprWord;
  if (w == nullptr || !w->GetIsVariable() || typeid(*w) != typeid(TDoubleConstant)) return nullptr;
  if (FExpressList.Find(w->Name()) == w) return nullptr;
  return w->AsPointer();
}

PExpressionRec TQelExpression1::PackList(PExpressionRec first) {
  int32_t n = 0;
  for (PExpressionRec rec = first; rec != nullptr; rec = rec->Next) ++n;
  if (n == 0) return nullptr;
  auto* packed = new TExpressionRec[static_cast<std::size_t>(n)];
  FPackIndex.clear();
  int32_t i = 0;
  for (PExpressionRec rec = first; rec != nullptr; rec = rec->Next, ++i) {
    TExpressionRec& to = packed[i];
    to = *rec;
    to.Next = i + 1 < n ? &packed[i + 1] : nullptr;
    if (rec->Res.Real == &rec->RealValue) to.Res.Real = &to.RealValue;
    if (rec->Res.Cplx == &rec->CplxValue) to.Res.Cplx = &to.CplxValue;
    FPackIndex.emplace_back(reinterpret_cast<std::uintptr_t>(rec), i);
  }
  // An argument that is another node's result moves with that node. The old nodes by address:
  // the last one at or below the argument's address is the only one that can hold it.
  std::sort(FPackIndex.begin(), FPackIndex.end());
  for (i = 0; i < n; ++i) {
    for (TValueRef*& slot : packed[i].Args) {
      if (slot == nullptr) continue;
      const auto address = reinterpret_cast<std::uintptr_t>(slot);
      auto at = std::upper_bound(FPackIndex.begin(), FPackIndex.end(),
                                 std::pair<std::uintptr_t, int32_t>(address, n));
      if (at == FPackIndex.begin()) continue;
      --at;
      if (&reinterpret_cast<PExpressionRec>(at->first)->Res == slot) slot = &packed[at->second].Res;
    }
  }
  for (const auto& entry : FPackIndex) delete reinterpret_cast<PExpressionRec>(entry.first);
  FPackIndex.clear();
  return packed;
}

bool TQelExpression1::isBoolean() const {
  if (FHead == nullptr) return false;
  PExpressionRec last = FHead;
  while (last->Next != nullptr) last = last->Next;
  return last->ExprWord->GetVarType() == vtBoolean;
}

}  // namespace veskmath::qel
