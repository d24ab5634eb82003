// Helpers of the parser tests: an expression object that exposes the compile phases, test
// functions with known values, and a compact description of word sequences.
#pragma once

#include <memory>
#include <string>
#include <typeinfo>

#include "parser/QelParseExpr.h"
#include "parser/RealProgram.h"
#include "vocabulary/Vocabulary.h"

namespace veskmath::qel::testing {

// "twice"(x) = 2x, "sum2"(a, b), "sum3"(a, b, c), "sum8"(8 arguments), "counter" (varying,
// no arguments: 1, 2, 3, ... per evaluation).
inline void Twice(PExpressionRec rec) { vocab::SetReal(rec, 2.0L * vocab::RealArg(rec, 0)); }
inline void SumN(PExpressionRec rec, int n) {
  long double s = 0;
  for (int k = 0; k < n; ++k) s += vocab::RealArg(rec, k);
  vocab::SetReal(rec, s);
}
inline void Sum2(PExpressionRec rec) { SumN(rec, 2); }
inline void Sum3(PExpressionRec rec) { SumN(rec, 3); }
inline void Sum8(PExpressionRec rec) { SumN(rec, 8); }
inline double gCounter = 0;
inline void Counter(PExpressionRec rec) { vocab::SetReal(rec, gCounter += 1); }

class TestExpression : public TQelExpression {
 public:
  explicit TestExpression(bool optimize = false) {
    Optimize = optimize;
    DefineFunction("twice", Twice, 1);
    DefineFunction("sum2", Sum2, 2);
    DefineFunction("sum3", Sum3, 3);
    DefineFunction("sum8", Sum8, 8);
    DefineVaryingFunction("counter", Counter, 0);
  }

  // Whether the current expression's result is complex (evaluates it).
  bool ResultIsCplx() { return EvaluateList(FHead)->IsCplx; }

  using TQelExpression1::Check;
  using TQelExpression1::EvaluateList;
  using TQelExpression1::FConstants;
  using TQelExpression1::FExpressList;
  using TQelExpression1::FHead;
  using TQelExpression1::FReal;
  using TQelExpression1::ParseString;

  // The words after lexing (and checking), described by Describe.
  std::string Lex(const std::string& text) { return Describe(*ParseString(text)); }
  std::string LexCheck(const std::string& text) {
    auto words = ParseString(text);
    Check(*words);
    return Describe(*words);
  }

  // "kind:name" for each word, separated by blanks.
  static std::string Kind(const TExprWord& w) {
    const std::type_info& t = typeid(w);
    if (t == typeid(TDoubleConstant)) return "num";
    if (t == typeid(TBooleanConstant)) return "bool";
    if (t == typeid(TGeneratedVariable)) return "gen";
    if (t == typeid(TStringConstant)) return "str";
    if (t == typeid(TDoubleVariable)) return "var";
    if (t == typeid(TStringVariable)) return "svar";
    if (t == typeid(TLogicalStringOper)) return "cmp";
    if (t == typeid(TLeftBracket) || t == typeid(TRightBracket) || t == typeid(TComma))
      return "punct";
    return w.GetIsOper() ? "op" : "fn";
  }
  static std::string Describe(const TExprCollection& words) {
    std::string text;
    for (int32_t i = 0; i < words.Count(); ++i) {
      if (i > 0) text += ' ';
      text += Kind(*words.Word(i)) + ":" + words.Word(i)->Name();
    }
    return text;
  }
};

// Restores the process-wide decimal separator when a test changed it.
class DecimalSeparatorScope {
 public:
  explicit DecimalSeparatorScope(char separator) : FSaved(rtl::DecimalSeparator()) {
    rtl::SetDecimalSeparator(separator);
  }
  ~DecimalSeparatorScope() { rtl::SetDecimalSeparator(FSaved); }

 private:
  char FSaved;
};

}  // namespace veskmath::qel::testing
