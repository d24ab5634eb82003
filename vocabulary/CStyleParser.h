// TCStyleParser: the expression object with C-style operator spellings.
//
// "&&", "||", "!" (logical not before its operand), "==", "!=", "%" (integer remainder)
// and "=" (assignment) take the places of "and", "or", "not", "=", "<>", "mod" and ":=".
// The factorial, the percent and the integer quotient become the functions "fact", "perc"
// and "div". Precedences stay those of the base vocabulary, not C's: "1 || 0 && 0" is 0
// ("||" and "&&" share one level and group from the left), "!1 == 2" is !(1 == 2).
// Everything else (lexer, checker, tree builder, evaluation, the functions) is inherited.
#pragma once

#include "parser/QelParseExpr.h"

namespace veskmath::qel {

class TCStyleParser : public TQelExpression {
 public:
  TCStyleParser() : TQelExpression(TNoFill{}) { FillExpressList(); }

 protected:
  explicit TCStyleParser(TNoFill noFill) : TQelExpression(noFill) {}

  // The base vocabulary, then the ten replacements.
  void FillExpressList() override;
};

}  // namespace veskmath::qel
