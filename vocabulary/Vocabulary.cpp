// Registration of the built-in vocabulary: brackets, the separator, the 25 constants, the
// operators and the function words, in that order.
#include "vocabulary/Vocabulary.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "math/Complex.h"
#include "math/Constants.h"
#include "math/Elementary.h"
#include "math/Environment.h"
#include "parser/QelParseExpr.h"
#include "platform/rtl/ScopeExit.h"

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

namespace {
// The operators' real forms, known by their routines (whatever their names: the C-style
// variant names them differently); the function rows carry theirs.
const TRealForm* RealFormOf(const TFunctionRow& row) {
  struct Known {
    TDoubleFunc routine;
    TRealForm form;
  };
  static constexpr Known kKnown[] = {
      {ops::Add, {TRealOp::Add}},         {ops::Subtract, {TRealOp::Sub}},
      {ops::Multiply, {TRealOp::Mul}},    {ops::Divide, {TRealOp::Div}},
      {ops::Negate, {TRealOp::Neg}},      {ops::Identity, {TRealOp::Same}},
      {ops::Percent, {TRealOp::Percent}}, {ops::Greater, {TRealOp::Gt}},
      {ops::GreaterEq, {TRealOp::Ge}},    {ops::LessEq, {TRealOp::Le}},
      {ops::Less, {TRealOp::Lt}},         {ops::NotEqual, {TRealOp::Ne}},
      {ops::Equal, {TRealOp::Eq}},        {ops::IntPower, {TRealOp::IntPower}},
      {ops::Power, Real2(m::Power)},
  };
  for (const Known& k : kKnown)
    if (row.Routine == k.routine) return &k.form;
  return row.Real.Op == TRealOp::None ? nullptr : &row.Real;
}
}  // namespace

std::unique_ptr<TExprWord> MakeWord(const TFunctionRow& row) {
  std::unique_ptr<TFunction> word;
  switch (row.Class) {
    case TWordClass::VaryingFunction:
      word = std::make_unique<TVaryingFunction>(row.Name, row.Routine, row.NArgs, row.IsOper,
                                                row.Prec);
      break;
    case TWordClass::BooleanFunction:
      word = std::make_unique<TBooleanFunction>(row.Name, row.Routine, row.NArgs, row.IsOper,
                                                row.Prec);
      break;
    case TWordClass::Function:
      word = std::make_unique<TFunction>(row.Name, row.Routine, row.NArgs, row.IsOper, row.Prec);
      break;
  }
  // What the engine asks of these two words, whatever their names ("not", "!"; "^@").
  if (row.Routine == ops::Not) word->SetIsLogicalNot(true);
  if (row.Routine == ops::IntPower) word->SetFixedExponentForm(ops::IntPowerFor);
  word->SetRealForm(RealFormOf(row));
  return word;
}

namespace {

// The built-in words, made once per process and shared by every expression object. The
// separator depends on the decimal separator of the moment and is registered on its own.
const TWordTable& BuiltinWords() {
  static const TWordTable table = [] {
    // Constant words are made under the library's control word (all exceptions masked).
    const uint16_t saved = m::Get8087CW();
    m::Set8087CW(m::Korvel8087CW);
    const rtl::ScopeExit restore([saved] {
      m::ClearFPU();
      m::Set8087CW(saved);
    });
    // Registration order: of two words of one name the first stays.
    std::vector<std::unique_ptr<TExprWord>> words;
    words.push_back(std::make_unique<TLeftBracket>("("));
    words.push_back(std::make_unique<TRightBracket>(")"));
    for (const TConstantRow& row : kConstantTable) {
      if (row.ComplexForm) {
        words.push_back(std::make_unique<TDoubleConstant>(row.Name, row.Value));
      } else {
        words.push_back(std::make_unique<TDoubleConstant>(row.Name, row.Value.Re));
      }
    }
    for (const TFunctionRow& row : FunctionsBeforeOperators()) words.push_back(MakeWord(row));
    for (const TFunctionRow& row : Operators()) words.push_back(MakeWord(row));
    for (const TFunctionRow& row : FunctionsAfterOperators()) words.push_back(MakeWord(row));
    return TWordTable(std::move(words));
  }();
  return table;
}

// "," and ";", the usual separators, shared as well; another character gets its own word.
const TWordTable* SharedSeparator(char separator) {
  auto make = [](char c) {
    std::vector<std::unique_ptr<TExprWord>> words;
    words.push_back(std::make_unique<TComma>(std::string(1, c)));
    return words;
  };
  static const TWordTable comma(make(','));
  static const TWordTable semicolon(make(';'));
  if (separator == ',') return &comma;
  if (separator == ';') return &semicolon;
  return nullptr;
}

void FillBuiltins(TQelExpression1& expression) {
  expression.UseWords(BuiltinWords());
  const char separator = expression.GetSeparator();
  if (const TWordTable* shared = SharedSeparator(separator)) {
    expression.UseWords(*shared);
  } else {
    expression.DefineWord(std::make_unique<TComma>(std::string(1, separator)));
  }
}

// Registers the built-in vocabulary with the engine, once: while the program starts, or at
// the first object made by another static initialiser, whichever comes first.
void RegisterBuiltins() {
  [[maybe_unused]] static const bool registered = (RegisterDefaultVocabulary(FillBuiltins), true);
}

[[maybe_unused]] const bool kRegistered = (RegisterBuiltins(), true);

}  // namespace

TQelExpression::TQelExpression() : TQelExpression1(TNoFill{}) {
  RegisterBuiltins();
  FillExpressList();
}

TQelExpression::TQelExpression(TNoFill noFill) : TQelExpression1(noFill) { RegisterBuiltins(); }

}  // namespace veskmath::qel
