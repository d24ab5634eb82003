// The syntax checker: rejects the word sequences the tree builder cannot handle and rewrites
// the rest in place so that every word has one meaning for the tree builder.
//
//   check    -> brackets { word-rules } string-comparisons
//   word at i: sign run, not run, then the neighbour rules, then the integer power
//
// Removed words are not freed: they belong to the dictionary or to FConstants.
#include <typeinfo>

#include "parser/QelParseExpr.h"

namespace veskmath::qel {

namespace {

inline bool IsBinaryOperator(const TExprWord* w) {
  return w->GetIsOper() && w->GetNFunctionArg() == 2;
}
inline bool IsSign(const TExprWord* w) { return w->Name() == "-" || w->Name() == "+"; }
inline bool IsType(const TExprWord* w, TVariableType t) { return w->GetVarType() == t; }
// The logical not, known by what the word says of itself rather than by its name: "not" in
// the base vocabulary, "!" in the C-style one.
inline bool IsLogicalNot(const TExprWord* w) {
  return w->GetIsLogicalNot() && w->GetIsOper() && w->GetNFunctionArg() == 1;
}

// Where an operand is expected: at the start, after a separator, "(" or a binary operator.
// Also after a prefix operator, i.e. a one-operand operator that itself stands where an
// operand is expected: "not -3" -> not(-3). After a postfix one the sign stays binary:
// "5!-3" -> (5!)-3.
bool InUnaryPosition(const TExprCollection& words, int32_t i) {
  if (i == 0) return true;
  const TExprWord* prev = words.Word(i - 1);
  if (IsType(prev, vtComma) || IsType(prev, vtLeftBracket) || IsBinaryOperator(prev)) return true;
  return prev->GetIsOper() && prev->GetNFunctionArg() == 1 && InUnaryPosition(words, i - 1);
}

// A literal that selects the integer power: plain digits, leading zeros allowed, or the
// decimal text of a hexadecimal literal ("$ffffffff" -> "-1"), within the 32-bit range.
// "x^2", "x^00000000003", "x^$ffffffff" -> integer power; "x^2.5", "x^15e-1" (1.5, not 2),
// "x^1e1" and "x^3000000000" -> general power, so the exponent is never rounded or cut.
bool IsPlainIntegerLiteral(const std::string& name) {
  const bool negative = !name.empty() && name[0] == '-';
  if (name.size() == (negative ? 1u : 0u)) return false;
  long long value = 0;
  for (std::size_t k = negative ? 1 : 0; k < name.size(); ++k) {
    const char c = name[k];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return false;
  }
  return value <= (negative ? 2147483648LL : 2147483647LL);
}

void RemoveRange(TExprCollection& words, int32_t from, int32_t to) {  // [from, to)
  for (int32_t k = to - 1; k >= from; --k) words.Delete(k);
}

}  // namespace

void TQelExpression1::Check(TExprCollection& words) {
  // "(1" -> "Unequal brackets"
  words.Check();

  TExprWord* const unaryMinus = FExpressList.Find("-@");
  TExprWord* const unaryPlus = FExpressList.Find("+@");
  TExprWord* const intPower = FExpressList.Find("^@");

  for (int32_t i = 0; i < words.Count(); ++i) {
    bool signRule = true;
    for (;;) {
      TExprWord* w = words.Word(i);
      // Sign run: "-5" -> -@ 5; "--5" -> +@ 5; "-+-5" -> +@ 5; "3--5" -> 3 - -@ 5.
      if (signRule && IsSign(w) && InUnaryPosition(words, i)) {
        int sign = w->Name() == "-" ? -1 : 1;
        int32_t j = i + 1;
        while (j < words.Count() && IsSign(words.Word(j))) {
          const TExprWord* before = words.Word(j - 1);
          if (!IsType(before, vtComma) && !IsType(before, vtLeftBracket) &&
              !IsBinaryOperator(before))
            break;
          if (words.Word(j)->Name() == "-") sign = -sign;
          ++j;
        }
        RemoveRange(words, i + 1, j);
        TExprWord* replacement = sign < 0 ? unaryMinus : unaryPlus;
        if (replacement != nullptr) words.Put(i, replacement);
        break;
      }
      // Not run: "not not x" -> x; "not not not x" -> not x; "(not not x)" -> (x);
      // C-style "!!x" -> x.
      if (IsLogicalNot(w) &&
          (i == 0 || IsType(words.Word(i - 1), vtLeftBracket) || words.Word(i - 1)->GetIsOper())) {
        int32_t k = i + 1;
        while (k < words.Count() && IsLogicalNot(words.Word(k))) ++k;
        if ((k - i) % 2 == 0) {
          RemoveRange(words, i, k);
          // What now stands at i gets every rule again, the sign run included:
          // "not not -3" -> -@ 3 (the run leaves an operand position behind).
          if (i >= words.Count()) return FinishCheck(words);
          continue;
        }
        RemoveRange(words, i + 1, k);
      }
      break;
    }
    if (i >= words.Count()) break;

    TExprWord* w = words.Word(i);
    const bool last = i == words.Count() - 1;
    TExprWord* next = last ? nullptr : words.Word(i + 1);
    // "2x", "a b" -> two values in a row
    if (w->GetIsVariable() && next != nullptr && next->GetIsVariable())
      RaiseWordError(w->Name(), msg::kTwoValues);
    // "foo(1)" with foo unknown -> unknown function
    if (typeid(*w) == typeid(TGeneratedVariable) && next != nullptr && IsType(next, vtLeftBracket))
      RaiseWordError(w->Name(), msg::kUnknownFunction);
    // "()", "sin()", "2*(" -> empty brackets
    if (IsType(w, vtLeftBracket) && (next == nullptr || IsType(next, vtRightBracket)))
      RaiseParserError(msg::kEmptyBrackets);
    // "(1)(2)"
    if (IsType(w, vtRightBracket) && next != nullptr && IsType(next, vtLeftBracket))
      RaiseParserError(msg::kMissingBetweenBrackets);
    // "(1)2"
    if (IsType(w, vtRightBracket) && next != nullptr && next->GetIsVariable())
      RaiseParserError(msg::kMissingAfterBracket);
    // "pi(2)"
    if (IsType(w, vtLeftBracket) && i > 0 && words.Word(i - 1)->GetIsVariable())
      RaiseParserError(msg::kMissingBeforeBracket);
    // Integer power: "x^2" -> x ^@ 2, for a literal of this expression only ("x^pi" stays).
    if (w->Name() == "^" && next != nullptr && intPower != nullptr &&
        typeid(*next) == typeid(TDoubleConstant) && FExpressList.Find(next->Name()) != next &&
        IsPlainIntegerLiteral(next->Name()))
      words.Put(i, intPower);
  }
  FinishCheck(words);
}

void TQelExpression1::FinishCheck(TExprCollection& words) {
  // String comparisons, right to left: "'abc' < 'abd'" -> one comparison word;
  // "'a' + 'b'" -> "+ is not a valid string operand".
  for (int32_t idx = words.Count() - 3; idx >= 0; --idx) {
    if (idx + 2 >= words.Count()) continue;  // a comparison to the right took these words
    TExprWord* left = words.Word(idx);
    TExprWord* right = words.Word(idx + 2);
    if (!IsType(left, vtString) || !IsType(right, vtString)) continue;
    auto compare = std::make_unique<TLogicalStringOper>(words.Word(idx + 1)->Name(), left, right);
    FConstants.Add(compare.get());
    words.Put(idx, compare.release());
    words.Delete(idx + 2);
    words.Delete(idx + 1);
  }
  // A string has no numeric value: "'abc'", "'a'+1" are refused (after the tree builder's
  // own checks, so that their messages come first).
  if (FDeferredFault.empty()) {
    for (int32_t i = 0; i < words.Count(); ++i) {
      if (IsType(words.Word(i), vtString)) {
        FDeferredFault = WordMessage(words.Word(i)->Name(), msg::kStringWithoutComparison);
        break;
      }
    }
  }
}

}  // namespace veskmath::qel
