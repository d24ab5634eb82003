// The tree builder: word sequence -> tree of nodes by precedence splitting, argument check,
// constant folding and linking into the flat evaluation list.
//
//   tree     -> value | prefix-op tree | tree postfix-op | tree binop tree
//             | function "(" tree { separator tree } ")"
//
// A smaller precedence number binds more tightly; equal precedences group from the left
// ("a-b-c" -> (a-b)-c, "2^3^2" -> (2^3)^2).
#include <cstdint>
#include <typeinfo>
#include <utility>

#include "parser/QelParseExpr.h"
#include "parser/RealProgram.h"

namespace veskmath::qel {

namespace {

// The arguments a node's word takes; only these are checked, folded and linked (a refused
// compile may have filled more).
inline int32_t ArgCount(const TExprWord* word) {
  return word == nullptr ? 0 : word->GetNFunctionArg();
}

}  // namespace

TQelExpression1::PTreeNode TQelExpression1::MakeTree(std::unique_ptr<TExprCollection> words) {
  return BuildTree(*words, 0, words->Count());
}

// The words [from, to) of the compiled expression, viewed in place: sub-expressions are
// built from their stretch of the one word list, never from a copy of it.
TQelExpression1::PTreeNode TQelExpression1::BuildTree(const TExprCollection& all, int32_t from,
                                                      int32_t to) {
  TWordRange range{&all, from, to};
  TWordRange* const words = &range;
  // Puts a sub-tree into an argument slot. Operands the word does not take would be dropped
  // silently: they are refused after the argument check ("sin(1,2)", "10%3", "5!3",
  // "sin(x) random"); a slot beyond the node's eight is never written.
  auto place = [this](TTreeNode& node, int32_t slot, PTreeNode tree) {
    const TExprWord* op = node.Word;
    const bool beyond = slot >= op->GetNFunctionArg();
    const bool taken = slot < kMaxArgs && node.Args[slot] != nullptr;
    if ((beyond || taken) && FDeferredFault.empty()) {
      std::string_view suffix = msg::kOneOperandOnly;
      if (taken)
        suffix = msg::kOperandAfterFunction;
      else if (!op->GetIsOper())
        suffix = msg::kTooManyArgumentsFor;
      FDeferredFault = WordMessage(op->Name(), suffix);
    }
    // Otherwise the tree is dropped here, released with its pointer.
    if (slot < kMaxArgs && !taken) node.Args[slot] = std::move(tree);
  };
  // A new tree of the words [first, last) of the current stretch.
  auto subTree = [this, &range](int32_t first, int32_t last) {
    return BuildTree(*range.Words, range.From + first, range.From + last);
  };

  // Whatever is raised, the tree built so far goes with current.
  PTreeNode current;
  {
    if (words->Count() == 0) RaiseParserError(msg::kEmptyExpression);
    int32_t start = 0;
    for (;;) {
      // The tree built so far becomes the first argument of the next operator.
      auto node = std::make_unique<TTreeNode>();
      int32_t slot = 0;
      if (current != nullptr) {
        node->Args[0] = std::move(current);
        slot = 1;
      }
      current = std::move(node);
      words->EraseExtraBrackets();  // "((2+3))" -> "2+3"

      if (words->Count() == 1) {  // a leaf: value, string comparison, or argument-less word
        TExprWord* w = words->Word(0);
        // ",", "1+(,)", "x:=,": a separator alone is no operand (it has no routine to run)
        if (w->GetVarType() == vtComma) RaiseWordError(msg::kSyntaxErrorIn, FCompiling);
        current->Word = w;
        return current;
      }

      int32_t p = words->NextOper(start);
      // "1,2", "max((1,2),3)": no operator outside brackets
      if (p == words->Count()) RaiseWordError(msg::kSyntaxErrorIn, FCompiling);
      TExprWord* op = words->Word(p);
      current->Word = op;
      const int32_t count = words->Count();

      if (!op->GetIsOper()) {
        // Function: "max(a, b)" -> max node with the argument trees in source order.
        if ((p > start || slot == 1) && FDeferredFault.empty()) {
          // "2 sin(x)", "sin(x)cos(y)": the words or tree before it would be dropped.
          FDeferredFault = WordMessage(op->Name(), msg::kOperandBeforeFunction);
        }
        if (slot == 1) current->Args[0].reset();
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
            place(*current, slot, subTree(argStart + 1, j));
            ++slot;
            argStart = j;
          }
        }
        // "max(1,)": empty last argument
        if (j == argStart + 1) RaiseParserError(msg::kEmptyArgument);
        place(*current, slot, subTree(argStart + 1, j));
        p = j;
      } else if (p > start) {
        // Left operand: "a*b" -> the words before "*" (only the first operator of a sequence
        // gets one this way; later ones take the tree built so far).
        place(*current, slot, subTree(start, p));
        ++slot;
      }

      // Right operand: up to the next operator that binds no more tightly than op.
      // "a+b*c" -> a+(b*c); "-2^2" -> (-2)^2; "not a<b" -> not(a<b); "x:=a+b" -> x:=(a+b).
      int32_t e = p;
      do {
        e = words->NextOper(e + 1);
      } while (e < count && words->Word(e)->GetOperPrec() < op->GetOperPrec());
      if (e != p + 1) place(*current, slot, subTree(p + 1, e));

      start = e;
      if (e >= count) return current;
    }
  }
}

bool TQelExpression1::CheckArguments(const TTreeNode& node) const {
  // "2+", "max(1)": a slot within the arity left empty.
  const int32_t n = ArgCount(node.Word);
  for (int32_t k = 0; k < n; ++k) {
    if (node.Args[k] == nullptr) return false;
    if (!CheckArguments(*node.Args[k])) return false;
  }
  return true;
}

bool TQelExpression1::ResultCanVary(const TTreeNode& node) const {
  if (node.Word->GetCanVary()) return true;
  const int32_t n = ArgCount(node.Word);
  for (int32_t k = 0; k < n; ++k)
    if (ResultCanVary(*node.Args[k])) return true;
  return false;
}

// "sin(pi/2)+x" -> 1 + x; "2*3" -> 6; a complex result whose imaginary part folds to 0
// becomes real ("i*i" -> -1).
TQelExpression1::PTreeNode TQelExpression1::RemoveConstants(PTreeNode node) {
  MarkVarying(*node);
  return FoldMarked(std::move(node));
}

// One bottom-up pass answers ResultCanVary for every node at once (asking it at every level
// is quadratic for chains such as "x+1+1+...+1").
bool TQelExpression1::MarkVarying(TTreeNode& node) {
  bool varies = node.Word->GetCanVary();
  const int32_t n = ArgCount(node.Word);
  for (int32_t k = 0; k < n; ++k) varies = MarkVarying(*node.Args[k]) || varies;
  node.Varies = varies;
  return varies;
}

// Top-down: a node that can vary keeps its word and has its arguments folded; the largest
// sub-trees that cannot vary are evaluated once and replaced by a constant.
TQelExpression1::PTreeNode TQelExpression1::FoldMarked(PTreeNode node) {
  if (node->Varies) {
    const int32_t n = ArgCount(node->Word);
    for (int32_t k = 0; k < n; ++k) node->Args[k] = FoldMarked(std::move(node->Args[k]));
    return node;
  }
  if (node->Word->GetIsVariable()) return node;  // a constant leaf already

  bool isBool = false;
  bool isCplx = false;
  EvaluateDisposeTree(std::move(node), isBool, isCplx);
  std::unique_ptr<TExprWord> word;
  if (isBool) {
    word = std::make_unique<TBooleanConstant>("", FFoldReal);
  } else if (isCplx) {
    word = std::make_unique<TDoubleConstant>("", FFoldCplx);
  } else {
    word = std::make_unique<TDoubleConstant>("", FFoldReal);
  }
  auto folded = std::make_unique<TTreeNode>();
  folded->Word = word.get();
  FConstants.Add(word.release());
  return folded;
}

void TQelExpression1::EvaluateDisposeTree(PTreeNode node, bool& isBool, bool& isCplx) {
  const TLinkedList list = MakeLinkedList(*node);  // the list and the tree go at the end
  isBool = IsBooleanList(list.Nodes.get());
  if (const TValueRef* result = EvaluateList(list.Nodes.get())) {
    isCplx = result->IsCplx;
    if (isCplx) {
      FFoldCplx = *result->Cplx;
    } else {
      FFoldReal = *result->Real;
    }
  }
}

// Post-order into one array: arguments before the node that uses them, siblings left to
// right, the root last. Value leaves leave the list: their parents read the word's storage
// directly. A root that is itself a value is a list of one node that copies it.
TQelExpression1::TLinkedList TQelExpression1::MakeLinkedList(const TTreeNode& root,
                                                             bool withReal) const {
  TLinkedList list;
  const bool lone = root.Word->GetIsVariable();
  list.Count = lone ? 1 : ListedNodes(root);
  // The real program (made later, if at all) needs at most one node per listed node (a lone
  // value none): its storage comes with the list's, in one allocation, so that making it
  // allocates nothing.
  const std::size_t realRecords =
      withReal ? (RealProgramBytes(lone ? 0 : list.Count) + sizeof(TExpressionRec) - 1) /
                     sizeof(TExpressionRec)
               : 0;
  static_assert(alignof(TRealProgram) <= alignof(TExpressionRec));
  list.Nodes = std::make_unique_for_overwrite<TExpressionRec[]>(
      static_cast<std::size_t>(list.Count) + realRecords);
  for (int32_t i = 0; i < list.Count; ++i) list.Nodes[i] = TExpressionRec{};
  if (withReal) list.Real = PlaceRealProgram(list.Nodes.get() + list.Count);
  if (lone) {
    TExpressionRec& rec = list.Nodes[0];
    rec.Res = {&rec.CplxValue, &rec.RealValue, false};
    rec.ExprWord = root.Word;
    rec.Oper = root.Word->DoubleFunc();
    rec.Args[0] = root.Word->AsPointer();
    return list;
  }
  int32_t next = 0;
  LinkNode(root, list.Nodes.get(), next);
  for (int32_t i = 0; i + 1 < list.Count; ++i) list.Nodes[i].Next = &list.Nodes[i + 1];
  return list;
}

// Links node and its arguments at nodes[next...]; answers where node's value is read.
//
// A node whose operands are known here may get a faster routine that gives the same values:
// "x^2" -> the integer power unrolled for the exponent 2.
TValueRef* TQelExpression1::LinkNode(const TTreeNode& node, TExpressionRec* nodes,
                                     int32_t& next) const {
  TExprWord* const word = node.Word;
  if (word->GetIsVariable()) return word->AsPointer();
  const int32_t n = ArgCount(word);
  TDoubleFunc oper = word->DoubleFunc();
  if (const TExprWord::TFixedExponentForm form = word->GetFixedExponentForm();
      form != nullptr && n >= 2) {
    const TValueRef* exponent = FixedValue(*node.Args[1]);
    if (exponent != nullptr && !exponent->IsCplx) {
      if (const TDoubleFunc faster = form(*exponent->Real)) oper = faster;
    }
  }
  TValueRef* args[kMaxArgs] = {};
  for (int32_t k = 0; k < n; ++k) args[k] = LinkNode(*node.Args[k], nodes, next);
  TExpressionRec& rec = nodes[next++];
  rec.Res = {&rec.CplxValue, &rec.RealValue, false};
  rec.ExprWord = word;
  rec.Oper = oper;
  for (int32_t k = 0; k < kMaxArgs; ++k) rec.Args[k] = args[k];
  return &rec.Res;
}

int32_t TQelExpression1::ListedNodes(const TTreeNode& node) {
  if (node.Word->GetIsVariable()) return 0;
  int32_t count = 1;
  const int32_t n = ArgCount(node.Word);
  for (int32_t k = 0; k < n; ++k) count += ListedNodes(*node.Args[k]);
  return count;
}

// Only a number of this expression's own (a literal or a folded sub-expression) keeps its
// value for good: nothing else refers to it. A named constant can be assigned ("pi:=3"), a
// variable changes with its storage.
const TValueRef* TQelExpression1::FixedValue(const TTreeNode& node) const {
  TExprWord* w = node.Word;
  if (w == nullptr || !w->GetIsVariable() || typeid(*w) != typeid(TDoubleConstant)) return nullptr;
  if (FExpressList.Find(w->Name()) == w) return nullptr;
  return w->AsPointer();
}

bool TQelExpression1::IsBooleanList(PExpressionRec first) {
  if (first == nullptr) return false;
  PExpressionRec last = first;
  while (last->Next != nullptr) last = last->Next;
  return last->ExprWord->GetVarType() == vtBoolean;
}

}  // namespace veskmath::qel
