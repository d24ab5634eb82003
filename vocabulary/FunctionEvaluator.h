// TQelFunctionEvaluator: formula evaluation as a component. Writing Formula compiles the
// text (unless the evaluator already holds it), evaluates it and leaves the answer as text
// in Result, formatted by ResultFormat:
//   frfDouble   the real value in the general form, 15 significant digits ("3", "0.5")
//   frfComplex  the complex value in the complex form ("-1", "3+4i")
//   frfBool     the truth value as "1" or "0" (a non-boolean formula raises)
//   frfHex      the value rounded to an integer, in hexadecimal after the HexChar ("$FF")
//
// Published properties, in this order: Formula (string), Result (string), ResultFormat
// (enumeration, default frfDouble). Changing ResultFormat re-evaluates nothing: Result
// changes only when Formula is written. A formula that fails to compile or to evaluate
// raises its error and leaves Result as it was.
//
// The evaluator owns its expression object (Expressions), which keeps the recent formulas
// compiled (at most its MaxExpressions, the oldest dropped first). Writing a formula the
// object already holds makes that formula current again without compiling it anew, so
// Formula always reads back the formula that Result was computed from. Held texts are found
// ignoring case, as the compiler reads them: "A+1" after "a+1" evaluates and reads back
// "a+1".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "parser/QelParseExpr.h"
#include "platform/rtl/Component.h"

namespace veskmath::qel {

enum TFunctionResultFormat : uint8_t { frfDouble, frfComplex, frfBool, frfHex };

inline constexpr const char* kNoExpressions = "FExpressions = nil!";

class TQelFunctionEvaluator : public rtl::TComponent {
 public:
  explicit TQelFunctionEvaluator(rtl::TComponent* owner = nullptr);
  ~TQelFunctionEvaluator() override;

  // The text of the current expression; the empty text when none is current. Raises
  // "FExpressions = nil!" (general exception) without an expression object.
  std::string GetFormula() const;
  // Raises "FExpressions = nil!" without an expression object; compile and evaluation
  // errors propagate with Result unchanged. The empty text compiles nothing, leaves no
  // expression current and keeps Result.
  void SetFormula(const std::string& text);

  const std::string& Result() const { return FResult; }
  // Stores the text as it is (no evaluation): for streaming and for callers that clear it.
  void SetResult(const std::string& text) { FResult = text; }

  TFunctionResultFormat ResultFormat() const { return FResultFormat; }
  // Stores the format only; the next write of Formula uses it.
  void SetResultFormat(TFunctionResultFormat value) { FResultFormat = value; }

  // The owned expression object, for defining variables and functions or setting its
  // options. Not published; it cannot be replaced from outside.
  TQelExpression* Expressions() const { return FExpressions.get(); }
  void SetExpressions(TQelExpression* /*value*/) {}

  static const rtl::TClassInfo& StaticClassInfo();
  const rtl::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

 protected:
  // Lets a descendant evaluate with another vocabulary (for example the C-style variant):
  // the previous object and its formulas are freed; Result is kept. Null leaves the
  // evaluator without an expression object, so Formula raises until one is installed.
  void ReplaceExpressions(std::unique_ptr<TQelExpression> expressions);

 private:
  // The current expression's value as text in the current format.
  std::string EvaluateCurrent();

  std::unique_ptr<TQelExpression> FExpressions;
  std::string FResult;
  TFunctionResultFormat FResultFormat = frfDouble;
};

}  // namespace veskmath::qel
