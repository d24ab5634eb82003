// The lexer: expression text -> word sequence.
//
// One left-to-right pass over the lower-cased, trimmed text. Known names are looked up in
// the dictionary; numbers and quoted strings become new constant words (owned by
// FConstants); any other name becomes a generated variable, registered on the spot, so
// later expressions of the same object share it. Only a text of more than
// kMaxExpressionWords words is rejected here: malformed sequences are left to the checker
// and to the number readers.
#include <string>

#include "parser/QelParseExpr.h"

namespace veskmath::qel {

namespace {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsHexLetter(char c) { return c >= 'a' && c <= 'f'; }
inline bool IsNameChar(char c) { return IsDigit(c) || c == '_' || (c >= 'a' && c <= 'z'); }

struct Scanner {
  const std::string& text;
  const std::size_t length;
  const char hexChar;
  const char decimal;
  std::size_t pos = 0;
  bool isConstant = false;

  bool At(std::size_t i, char c) const { return i < length && text[i] == c; }

  void SkipDigits() {
    while (pos < length && IsDigit(text[pos])) ++pos;
  }

  void SkipName() {
    while (pos < length && IsNameChar(text[pos])) ++pos;
  }

  // digits [separator digits] [e [sign] digits] [i]; in hexadecimal mode a-f (and so "e")
  // count as digits.
  void ScanNumber(bool hex) {
    isConstant = true;
    while (pos < length && (IsDigit(text[pos]) || (hex && IsHexLetter(text[pos])))) ++pos;
    if (At(pos, decimal)) {
      ++pos;
      SkipDigits();
    }
    if (At(pos, 'e')) {
      ++pos;
      if (At(pos, '+') || At(pos, '-')) ++pos;
      SkipDigits();
    }
    if (At(pos, 'i')) ++pos;
  }

  // Scans one token from pos; answers its start (pos is its end).
  std::size_t ScanToken() {
    isConstant = false;
    std::size_t start = pos;
    // Only blanks separate tokens; a tab becomes a token of its own, trimmed away later.
    while (start < length && text[start] == ' ') ++start;
    pos = start;
    if (start >= length) return start;
    const char c = text[start];
    if (c == hexChar) {
      // "$1f" -> hexadecimal literal; "$zz" -> a name beginning with the HexChar.
      pos = start + 1;
      ScanNumber(true);
      if (pos == start + 1) {
        isConstant = false;
        SkipName();
      }
    } else if (c == decimal || IsDigit(c)) {
      ScanNumber(false);  // ".5" is a number too
    } else if (c == '_' || (c >= 'a' && c <= 'z')) {
      SkipName();
    } else if (c == '\'') {
      // 'text' up to the next quote, included; no escape. An open quote runs to the end.
      isConstant = true;
      pos = start + 1;
      while (pos < length && text[pos] != '\'') ++pos;
      if (pos < length) ++pos;
    } else if (c == '!' || c == ':') {
      pos = start + 1;  // "!=", ":="
      if (At(pos, '=')) ++pos;
    } else if (c == '&' || c == '|') {
      pos = start + 1;  // "&&", "||"
      if (At(pos, c)) ++pos;
    } else if (c == '<' || c == '>' || c == '=') {
      // "<=", ">=", "<>", "==", and also unregistered pairs such as "=<" or "<<".
      pos = start + 1;
      if (At(pos, '<') || At(pos, '=') || At(pos, '>')) ++pos;
    } else {
      pos = start + 1;  // any other character is a token of its own
    }
    return start;
  }
};

}  // namespace

std::unique_ptr<TExprCollection> TQelExpression1::ParseString(const std::string& source) {
  auto words = std::make_unique<TExprCollection>(10);
  std::string text = rtl::Trim(source);  // then lower-cased in place: one copy, not two
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  Scanner scan{text, text.size(), HexChar, rtl::DecimalSeparator()};
  while (scan.pos < scan.length) {
    const std::size_t start = scan.ScanToken();
    std::string token = rtl::Trim(std::string_view(text).substr(start, scan.pos - start));
    if (token.empty()) continue;  // a control character, trimmed away
    if (scan.isConstant) {
      if (token[0] == HexChar) {
        // "$ff" -> "255": the platform's integer reader takes "$" as the hex prefix.
        token[0] = '$';
        token = std::to_string(rtl::StrToInt(token));
      }
      std::unique_ptr<TExprWord> word;
      if (token[0] == '\'') {
        word = std::make_unique<TStringConstant>(token);
      } else {
        word = std::make_unique<TDoubleConstant>(token, token);
      }
      FConstants.Add(word.get());
      words->Add(word.release());
    } else if (TExprWord* known = Lookup(token)) {
      words->Add(known);
    } else {
      auto word = std::make_unique<TGeneratedVariable>(token);
      FExpressList.Add(word.get());
      words->Add(word.release());
    }
    // Refused as soon as the limit is passed: a text of a million names would otherwise
    // register every one of them before being refused.
    if (words->Count() > kMaxExpressionWords) RaiseParserError(msg::kTooLong);
  }
  return words;
}

}  // namespace veskmath::qel
