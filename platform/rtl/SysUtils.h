// String and number utilities of the component-library stand-in, with its exception family
// and the process-wide decimal separator (those two from platform/base, under rtl:: names).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/base/SysBase.h"

namespace veskmath::rtl {

// The exception family, the decimal separator and case mapping live in the base below
// this layer (platform/base/SysBase.h), shared with the numeric library.
using base::DecimalSeparator, base::SetDecimalSeparator, base::LowerCase, base::LowerChar,
    base::SameText, base::UpperCase;
using base::EAbstractError, base::EConvertError, base::EDivByZero, base::EFCreateError,
    base::EFOpenError, base::EListError, base::EReadError, base::EStreamError,
    base::EStringListError, base::EWriteError, base::Exception, base::kDivByZeroMessage;

// Removes leading and trailing characters whose code is 32 or less.
std::string Trim(std::string_view text);

// Reads a 32-bit signed integer: optional blanks, sign, decimal digits or a "$" / "0x"
// hexadecimal prefix. Hexadecimal values up to $FFFFFFFF wrap into the negative range, as
// the component library does. Fails with EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view text);

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace veskmath::rtl
