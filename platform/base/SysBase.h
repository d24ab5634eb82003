// Below both the numeric library and the platform layer (which offers these names as rtl::):
// the exception family, the process-wide decimal separator and ASCII case mapping.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace veskmath::base {

// The base of every error the system raises; Message() is the text exactly as raised.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

class EConvertError : public Exception {
  using Exception::Exception;
};
class EListError : public Exception {
  using Exception::Exception;
};
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

inline constexpr const char* kDivByZeroMessage = "Division by zero";

// Process-wide decimal separator of number formatting ("." by default). Readers that must
// be thread-safe take the separator as an argument instead of changing this setting.
char DecimalSeparator();
void SetDecimalSeparator(char separator);

// ASCII case mapping: only A-Z / a-z change, every other byte stays as it is.
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);

// The system's text for an errno value, in English whatever the process's locale: messages
// inside are in the system code page, which a localised UTF-8 text would not be.
std::string SystemErrorText(int error);
char LowerChar(char c);

}  // namespace veskmath::base
