// String and number utilities. The exception family, decimal separator and case mapping come
// from platform/base/SysBase.h (shared with the numeric library) under rtl:: names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/SysBase.h"

namespace veskmath::rtl {

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

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace veskmath::rtl
