// The function words of the built-in vocabulary and their routines.
//
// Registration order: "random" before the operators; "randg" and every other function
// after them (see FunctionsAfterOperators).
#include <array>

#include "vocabulary/Vocabulary.h"

namespace veskmath::qel {

namespace {
constexpr std::array<TFunctionRow, 0> kBeforeOperators{};
constexpr std::array<TFunctionRow, 0> kAfterOperators{};
}  // namespace

std::span<const TFunctionRow> FunctionsBeforeOperators() { return kBeforeOperators; }
std::span<const TFunctionRow> FunctionsAfterOperators() { return kAfterOperators; }

}  // namespace veskmath::qel
