#include "platform/base/SysBase.h"

#include <locale.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace veskmath::base {

namespace {
std::atomic<char> gDecimalSeparator{'.'};
}

char DecimalSeparator() { return gDecimalSeparator.load(std::memory_order_relaxed); }

void SetDecimalSeparator(char separator) {
  gDecimalSeparator.store(separator, std::memory_order_relaxed);
}

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool SameText(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return LowerChar(x) == LowerChar(y); });
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  return out;
}

std::string SystemErrorText(int error) {
  static const locale_t english = ::newlocale(LC_ALL_MASK, "C", nullptr);
  return english != nullptr ? ::strerror_l(error, english) : std::strerror(error);
}

}  // namespace veskmath::base
