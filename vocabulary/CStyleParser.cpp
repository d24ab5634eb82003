// The C-style vocabulary: ten words of the base table replaced, each new word carrying the
// routine of the word of the same meaning.
#include "vocabulary/CStyleParser.h"

#include <array>

#include "vocabulary/Vocabulary.h"

namespace veskmath::qel {

namespace {
using enum TWordClass;

struct TReplacement {
  const char* Removed;
  TFunctionRow Added;
};

// In this order: "%" is freed (step 3) before the remainder takes it (4), "!" (1) before
// the logical not takes it (10), "=" (7) before the assignment takes it (8); the word list
// refuses a name still present.
constexpr std::array<TReplacement, 10> kReplacements = {{
    {"!", {"fact", 1, Function, false, 0, ops::Factorial}},  // "fact(5)" -> 120
    {"div", {"div", 2, Function, false, 0, ops::IntDiv}},    // "div(7, 2)" -> 3
    {"%", {"perc", 1, Function, false, 0, ops::Percent}},    // "perc(50)" -> 0.5
    {"mod", {"%", 2, Function, true, 30, ops::IntMod}},      // "7 % 3" -> 1
    {"or", {"||", 2, BooleanFunction, true, 70, ops::Or}},
    {"and", {"&&", 2, BooleanFunction, true, 70, ops::And}},
    {"=", {"==", 2, BooleanFunction, true, 50, ops::Equal}},
    {":=", {"=", 2, Function, true, 200, ops::Assign}},  // "x = 5"
    {"<>", {"!=", 2, BooleanFunction, true, 50, ops::NotEqual}},
    {"not", {"!", 1, BooleanFunction, true, 60, ops::Not}},  // "!0" -> 1
}};
}  // namespace

void TCStyleParser::FillExpressList() {
  TQelExpression::FillExpressList();
  for (const TReplacement& r : kReplacements) {
    std::unique_ptr<TExprWord> word = MakeWord(r.Added);
    if (ReplaceSymbol(r.Removed, word.get())) word.release();  // a refused word is freed here
  }
}

}  // namespace veskmath::qel
