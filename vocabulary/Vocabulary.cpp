// Registration of the built-in vocabulary: brackets, the separator, the 25 constants, the
// operators and the function words, in that order.
#include "vocabulary/Vocabulary.h"

#include <array>

#include "math/Complex.h"
#include "math/Constants.h"
#include "math/Environment.h"
#include "parser/QelParseExpr.h"

namespace veskmath::qel {

namespace m = Math387;

// The named constants; the last three are made with the complex constructor. "cnan" has a
// NaN imaginary part and so counts as real (it evaluates to a real NaN).
constexpr std::array<TConstantRow, 25> kConstantTable = {{
    {"pi", {m::PI, 0.0}, false},
    {"ln2", {m::LN2, 0.0}, false},
    {"ln10", {m::LN10, 0.0}, false},
    {"lnpi", {m::LNPI, 0.0}, false},
    {"invln2", {m::INVLN2, 0.0}, false},
    {"invln10", {m::INVLN10, 0.0}, false},
    {"twopi", {m::TWOPI, 0.0}, false},
    {"invtwopi", {m::INVTWOPI, 0.0}, false},
    {"pidiv2", {m::PIDIV2, 0.0}, false},
    {"sqrtpi", {m::SQRTPI, 0.0}, false},
    {"sqrt2pi", {m::SQRT2PI, 0.0}, false},
    {"invsqrt2pi", {m::INVSQRT2PI, 0.0}, false},
    {"lnsqrt2pi", {m::LNSQRT2PI, 0.0}, false},
    {"ln2pidiv2", {m::LN2PIDIV2, 0.0}, false},
    {"sqrt2", {m::SQRT2, 0.0}, false},
    {"sqrt2div2", {m::SQRT2DIV2, 0.0}, false},
    {"gold", {m::GOLD, 0.0}, false},
    {"cgold", {m::CGOLD, 0.0}, false},
    {"pi180", {m::PI180, 0.0}, false},
    {"invpi180", {m::INVPI180, 0.0}, false},
    {"nan", {m::NaN, 0.0}, false},
    {"inf", {m::INF, 0.0}, false},
    {"cnan", m::CNAN, true},
    {"cinf", m::CINF, true},
    {"i", m::C_I, true},
}};

std::span<const TConstantRow> Constants() { return kConstantTable; }

std::unique_ptr<TExprWord> MakeWord(const TFunctionRow& row) {
  switch (row.Class) {
    case TWordClass::VaryingFunction:
      return std::make_unique<TVaryingFunction>(row.Name, row.Routine, row.NArgs, row.IsOper,
                                                row.Prec);
    case TWordClass::BooleanFunction:
      return std::make_unique<TBooleanFunction>(row.Name, row.Routine, row.NArgs, row.IsOper,
                                                row.Prec);
    case TWordClass::Function:
      break;
  }
  return std::make_unique<TFunction>(row.Name, row.Routine, row.NArgs, row.IsOper, row.Prec);
}

void TQelExpression1::FillExpressList() {
  // Constant words are made under the library's control word (all exceptions masked).
  struct ControlWordScope {
    uint16_t saved = m::Get8087CW();
    ControlWordScope() { m::Set8087CW(m::Korvel8087CW); }
    ~ControlWordScope() {
      m::ClearFPU();
      m::Set8087CW(saved);
    }
  } scope;

  DefineWord(std::make_unique<TLeftBracket>("("));
  DefineWord(std::make_unique<TRightBracket>(")"));
  DefineWord(std::make_unique<TComma>(std::string(1, FSeparator)));
  for (const TConstantRow& row : kConstantTable) {
    if (row.ComplexForm) {
      DefineWord(std::make_unique<TDoubleConstant>(row.Name, row.Value));
    } else {
      DefineWord(std::make_unique<TDoubleConstant>(row.Name, row.Value.Re));
    }
  }
  for (const TFunctionRow& row : FunctionsBeforeOperators()) DefineWord(MakeWord(row));
  for (const TFunctionRow& row : Operators()) DefineWord(MakeWord(row));
  for (const TFunctionRow& row : FunctionsAfterOperators()) DefineWord(MakeWord(row));
}

}  // namespace veskmath::qel
