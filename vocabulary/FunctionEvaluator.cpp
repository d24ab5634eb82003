// The formula-evaluator component.
#include "vocabulary/FunctionEvaluator.h"

#include <utility>

#include "math/Environment.h"
#include "math/NumberText.h"
#include "math/Utilities.h"

namespace veskmath::qel {

TQelFunctionEvaluator::TQelFunctionEvaluator(rtl::TComponent* owner)
    : rtl::TComponent(owner), FExpressions(std::make_unique<TQelExpression>()) {}

TQelFunctionEvaluator::~TQelFunctionEvaluator() = default;

const rtl::TClassInfo& TQelFunctionEvaluator::StaticClassInfo() {
  using T = TQelFunctionEvaluator;
  using P = rtl::TPublished<T>;
  static const rtl::TClassInfo info{
      &rtl::TComponent::StaticClassInfo(),
      {
          P::String("Formula", &T::GetFormula, &T::SetFormula),
          P::String("Result", &T::Result, &T::SetResult),
          P::Enumeration<TFunctionResultFormat>("ResultFormat",
                                                {"frfDouble", "frfComplex", "frfBool", "frfHex"},
                                                &T::ResultFormat, &T::SetResultFormat, frfDouble),
      }};
  return info;
}

std::string TQelFunctionEvaluator::GetFormula() const {
  if (!FExpressions) Math387::ERaise(kNoExpressions);
  const int32_t index = FExpressions->GetExpressionIndex();
  if (Math387::CheckRange(0, index, FExpressions->Count() - 1))
    return FExpressions->GetString(index);
  return std::string();
}

void TQelFunctionEvaluator::SetFormula(const std::string& text) {
  if (!FExpressions) Math387::ERaise(kNoExpressions);
  const int32_t held = FExpressions->IndexOf(text);
  if (held < 0) {
    FExpressions->Add(text);
  } else {
    // "1+2" after "3*4" was written: evaluate "1+2" again, not "3*4", so that Formula and
    // Result keep describing the same expression.
    FExpressions->SetExpressionIndex(held);
  }
  // Add("") leaves no expression current: Result keeps its text.
  if (FExpressions->GetExpressionIndex() >= 0) FResult = EvaluateCurrent();
}

std::string TQelFunctionEvaluator::EvaluateCurrent() {
  switch (FResultFormat) {
    case frfComplex:
      return Math387::CplxToStr(FExpressions->EvaluateCplx(), 0);
    case frfBool:
      return FExpressions->EvaluateBool() ? "1" : "0";
    case frfHex:
      return FExpressions->EvaluateHex();
    case frfDouble:
      break;
  }
  // The general form of 15 significant digits, with the locale's decimal separator.
  return Math387::SampleToStr(FExpressions->Evaluate(), 0);
}

void TQelFunctionEvaluator::ReplaceExpressions(std::unique_ptr<TQelExpression> expressions) {
  FExpressions = std::move(expressions);
}

}  // namespace veskmath::qel
