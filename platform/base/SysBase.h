// What the numeric library and the platform layer both need, below either of them: the
// general exception and its family, the process-wide decimal separator and ASCII case
// mapping. The platform layer (platform/rtl) offers the same names as rtl::.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace veskmath::base {

// The general exception, which every error the system raises derives from: one message
// text, exactly as raised.
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
// Equal but for the ASCII case of letters.
bool SameText(std::string_view a, std::string_view b);

// The system's text for an errno value, in English whatever the process's locale: messages
// inside are in the system code page, which a localised UTF-8 text would not be.
std::string SystemErrorText(int error);
char LowerChar(char c);

}  // namespace veskmath::base
