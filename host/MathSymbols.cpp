#include "host/MathSymbols.h"

#include <array>

namespace veskmath::host {

namespace {

struct TSymbol {
  std::string_view Utf8;
  std::string_view Ascii;
};

constexpr std::array<TSymbol, 18> kSymbols = {{
    {"\u00D7", "*"},   // × multiplication sign
    {"\u00B7", "*"},   // · middle dot
    {"\u22C5", "*"},   // ⋅ dot operator
    {"\u2217", "*"},   // ∗ asterisk operator
    {"\u00F7", "/"},   // ÷ division sign
    {"\u2215", "/"},   // ∕ division slash
    {"\u2212", "-"},   // − minus sign
    {"\u2010", "-"},   // ‐ hyphen
    {"\u2012", "-"},   // ‒ figure dash
    {"\u2013", "-"},   // – en dash
    {"\u30FC", "-"},   // ー long vowel mark: the minus key of a Japanese layout
    {"\uFF70", "-"},   // ｰ its half-width form
    {"\uFF3E", "^"},   // ＾ full-width circumflex
    {"\u2264", "<="},  // ≤
    {"\u2266", "<="},  // ≦
    {"\u2265", ">="},  // ≥
    {"\u2267", ">="},  // ≧
    {"\u2260", "<>"},  // ≠
}};

}  // namespace

std::string AsciiOperators(std::string_view notation) {
  std::string out;
  out.reserve(notation.size());
  for (std::size_t i = 0; i < notation.size();) {
    const std::string_view rest = notation.substr(i);
    const TSymbol* found = nullptr;
    if (static_cast<unsigned char>(rest[0]) >= 0x80) {
      for (const TSymbol& s : kSymbols) {
        if (rest.starts_with(s.Utf8)) {
          found = &s;
          break;
        }
      }
    }
    if (found != nullptr) {
      out += found->Ascii;
      i += found->Utf8.size();
    } else {
      out += rest[0];
      ++i;
    }
  }
  return out;
}

}  // namespace veskmath::host
