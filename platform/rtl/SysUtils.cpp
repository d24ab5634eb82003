#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace veskmath::rtl {

std::string Trim(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

int32_t StrToInt(std::string_view text) {
  std::string_view digits = text.substr(std::min(text.find_first_not_of(' '), text.size()));
  const bool negative = digits.starts_with('-');
  if (negative || digits.starts_with('+')) digits.remove_prefix(1);
  int base = 10;
  if (digits.starts_with('$') || digits.starts_with("0x") || digits.starts_with("0X")) {
    base = 16;
    digits.remove_prefix(digits[0] == '$' ? 1 : 2);
  }
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      value > limit) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  const auto bits = static_cast<std::uint32_t>(value);
  return static_cast<int32_t>(negative ? 0u - bits : bits);
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  return out;
}

}  // namespace veskmath::rtl
