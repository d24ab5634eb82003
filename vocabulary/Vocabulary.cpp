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

namespace {

// The built-in words in dictionary order, worked out once per process: every expression
// object then constructs them in one block, in that order, instead of 121 sorted inserts.
// The separator depends on the decimal separator of the moment and is inserted on its own.
class TBuiltinImage {
 public:
  enum class TKind : uint8_t { LeftBracket, RightBracket, Constant, Function };
  struct TEntry {
    TKind Kind;
    const TConstantRow* Constant;
    const TFunctionRow* Function;
    std::size_t Offset;
    std::string_view Name;  // measured once
  };

  static const TBuiltinImage& Get() {
    static const TBuiltinImage image;
    return image;
  }

  const std::vector<TEntry>& Entries() const { return FEntries; }
  std::size_t CommaOffset() const { return FCommaOffset; }
  std::size_t Size() const { return FSize; }

 private:
  TBuiltinImage() {
    // Registration order; a later word with a name already taken would be refused.
    std::vector<TEntry> all;
    all.push_back({TKind::LeftBracket, nullptr, nullptr, 0, {}});
    all.push_back({TKind::RightBracket, nullptr, nullptr, 0, {}});
    for (const TConstantRow& row : kConstantTable)
      all.push_back({TKind::Constant, &row, nullptr, 0, {}});
    for (const TFunctionRow& row : FunctionsBeforeOperators())
      all.push_back({TKind::Function, nullptr, &row, 0, {}});
    for (const TFunctionRow& row : Operators())
      all.push_back({TKind::Function, nullptr, &row, 0, {}});
    for (const TFunctionRow& row : FunctionsAfterOperators())
      all.push_back({TKind::Function, nullptr, &row, 0, {}});

    for (TEntry& e : all) {
      e.Name = e.Kind == TKind::LeftBracket    ? std::string_view("(")
               : e.Kind == TKind::RightBracket ? std::string_view(")")
               : e.Kind == TKind::Constant     ? std::string_view(e.Constant->Name)
                                               : std::string_view(e.Function->Name);
    }
    std::stable_sort(all.begin(), all.end(), [](const TEntry& a, const TEntry& b) {
      return CompareNames(a.Name, b.Name) < 0;
    });
    for (const TEntry& e : all) {
      if (!FEntries.empty() && CompareNames(FEntries.back().Name, e.Name) == 0)
        continue;  // the first registered keeps the name
      FEntries.push_back(e);
    }
    for (TEntry& e : FEntries) {
      e.Offset = FSize;
      FSize += Place(SizeOf(e));
    }
    FCommaOffset = FSize;
    FSize += Place(sizeof(TComma));
  }

  // The dictionary's order (ASCII letters folded to upper case); names hold no NUL.
  static int CompareNames(std::string_view a, std::string_view b) {
    const auto fold = [](unsigned char c) {
      return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
    };
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
      const int d = fold(static_cast<unsigned char>(a[k])) - fold(static_cast<unsigned char>(b[k]));
      if (d != 0) return d;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  }

  static std::size_t Place(std::size_t size) {
    constexpr std::size_t kAlign = alignof(std::max_align_t);
    return (size + kAlign - 1) / kAlign * kAlign;
  }

  static std::size_t SizeOf(const TEntry& e) {
    switch (e.Kind) {
      case TKind::LeftBracket:
        return sizeof(TLeftBracket);
      case TKind::RightBracket:
        return sizeof(TRightBracket);
      case TKind::Constant:
        return sizeof(TDoubleConstant);
      case TKind::Function:
        break;
    }
    switch (e.Function->Class) {
      case TWordClass::VaryingFunction:
        return sizeof(TVaryingFunction);
      case TWordClass::BooleanFunction:
        return sizeof(TBooleanFunction);
      case TWordClass::Function:
        break;
    }
    return sizeof(TFunction);
  }

  std::vector<TEntry> FEntries;
  std::size_t FCommaOffset = 0;
  std::size_t FSize = 0;
};

TExprWord* Construct(void* at, const TBuiltinImage::TEntry& e) {
  using TKind = TBuiltinImage::TKind;
  switch (e.Kind) {
    case TKind::LeftBracket:
      return new (at) TLeftBracket("(");
    case TKind::RightBracket:
      return new (at) TRightBracket(")");
    case TKind::Constant:
      if (e.Constant->ComplexForm) return new (at) TDoubleConstant(e.Name, e.Constant->Value);
      return new (at) TDoubleConstant(e.Name, e.Constant->Value.Re);
    case TKind::Function:
      break;
  }
  const TFunctionRow& row = *e.Function;
  switch (row.Class) {
    case TWordClass::VaryingFunction:
      return new (at) TVaryingFunction(e.Name, row.Routine, row.NArgs, row.IsOper, row.Prec);
    case TWordClass::BooleanFunction:
      return new (at) TBooleanFunction(e.Name, row.Routine, row.NArgs, row.IsOper, row.Prec);
    case TWordClass::Function:
      break;
  }
  return new (at) TFunction(e.Name, row.Routine, row.NArgs, row.IsOper, row.Prec);
}

}  // namespace

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

  if (FExpressList.Count() != 0) {
    // Words registered before (a derived object's own): one by one, so that a name
    // already taken keeps its word.
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
    return;
  }

  // An empty dictionary: the words in order, in one block the dictionary owns from the
  // start (a failing constructor leaves only fully made words to free).
  const TBuiltinImage& image = TBuiltinImage::Get();
  auto block = std::make_unique_for_overwrite<std::byte[]>(image.Size());
  std::byte* const base = block.get();
  FExpressList.AdoptBlock(std::move(block), image.Size());
  FExpressList.SetCapacity(
      std::max(FExpressList.Capacity(), static_cast<int32_t>(image.Entries().size()) + 1));
  for (const TBuiltinImage::TEntry& e : image.Entries())
    FExpressList.Append(Construct(base + e.Offset, e));
  // "," (or ";" where the decimal separator is a comma) among the others.
  TExprWord* comma = new (base + image.CommaOffset()) TComma(std::string(1, FSeparator));
  if (!FExpressList.Add(comma)) FExpressList.FreeItem(comma);
}

}  // namespace veskmath::qel
