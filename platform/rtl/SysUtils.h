// String and number utilities of the component-library stand-in, and its exception family.
//
// `Exception` is the library's general exception: every error the system raises derives
// from it (ERaise in Math387 raises it directly; the expression engine's EParserException
// derives from it). The process-wide decimal separator lives here too; the number readers
// and the lexer read it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace veskmath::rtl {

// The general exception: carries one message text, exactly as raised.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// A text that does not read as a number ("'x' is not a valid integer value", ...).
class EConvertError : public Exception {
  using Exception::Exception;
};
// An index outside a list ("List index out of bounds (5)").
class EListError : public Exception {
  using Exception::Exception;
};
// An index outside a string list ("List index out of bounds (5)").
class EStringListError : public Exception {
  using Exception::Exception;
};
// A call of an operation that a class declares but does not define.
class EAbstractError : public Exception {
  using Exception::Exception;
};
// Integer division by zero, raised before the hardware would trap.
class EDivByZero : public Exception {
  using Exception::Exception;
};
// Stream and file failures (reading past the end, opening, creating, writing).
class EStreamError : public Exception {
  using Exception::Exception;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
  using EStreamError::EStreamError;
};

// The message of an integer division by zero.
inline constexpr const char* kDivByZeroMessage = "Division by zero";

// Process-wide decimal separator of number formatting ("." by default). Readers that must
// be thread-safe take the separator as an argument instead of changing this setting.
char DecimalSeparator();
void SetDecimalSeparator(char separator);

// ASCII case mapping: only A-Z / a-z change, every other byte stays as it is.
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
char LowerChar(char c);

// Removes leading and trailing characters whose code is 32 or less.
std::string Trim(std::string_view text);

// Reads a 32-bit signed integer: optional blanks, sign, decimal digits or a "$" / "0x"
// hexadecimal prefix. Hexadecimal values up to $FFFFFFFF wrap into the negative range, as
// the component library does. Fails with EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace veskmath::rtl
