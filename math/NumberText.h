// Text forms of real and complex numbers: writing (general form, complex form, picture
// formats) and reading (the float reader, its NaN / infinity / separator fallbacks, the
// complex reader and the readers of delimited fields).
//
// General form (SampleToStr, and each part in CplxToStr): 15 significant digits, the 16th
// digit of the exact decimal expansion rounding half away from zero, trailing zeros
// dropped; fixed notation for magnitudes from 0.0001 up to below 1E15, scientific
// otherwise ("1.234E-5", "1E15"); "NAN", "INF", "-INF"; zero of either sign is "0".
// Complex form: "3", "2i", "-i", "3+4i", "3-i", "1.5E-7+2E20i"; no blanks, no parentheses.
//
// Decimal separator: the overloads without a separator argument read
// base::DecimalSeparator() once per call; the others take it explicitly. Nothing here
// changes the process-wide setting, so reading and writing numbers is thread-safe.
//
// Picture language of FormatSample / FormatCplx (a subset of the usual float pictures):
//   0        digit placeholder: always prints a digit (leading / trailing zeros kept)
//   #        optional digit: prints a digit only where one is significant (0 under "#"
//            prints nothing)
//   .        the decimal point (printed as the decimal separator); the first one counts,
//            later ones are ignored. It is printed only when fraction digits follow
//   ,        before the point: group the integer digits by three with "," ("." when the
//            decimal separator is ","); after the point ignored
//   E+ E- e+ e-  after a digit placeholder: scientific notation. The "0"s right after it
//            give the minimum number of exponent digits. "E+" always prints the
//            exponent's sign, "E-" only a "-". The integer placeholders fix how many
//            digits stand before the point ("0.00E+00": 1.23E+04)
//   'text' "text"  literal text, printed as is (an unterminated quote runs to the end)
//   ;        separates up to three sections: positive;negative;zero. With a negative
//            section, negative values print their magnitude in it and get no "-"; without
//            one, the first section is used and "-" is put in front. The zero section is
//            used for values that round to zero under the section that would print them
//   any other character is printed as is ("i", "+", " ", "$", ...)
// Placement: integer digits fill the integer placeholders from the right, and digits
// beyond them print at the first placeholder; fraction digits fill from the left, rounded
// half away from zero to the number of fraction placeholders, and trailing zeros are
// dropped down to the last "0". A section without placeholders prints only its literals.
// NaN and infinities print in the general form whatever the picture.
//   FormatSample("#,##0.00", 1234567.891) -> "1,234,567.89"
//   FormatSample("0.###", 2.5)            -> "2.5"
//   FormatSample("0.00E+00", 12345)       -> "1.23E+04"
//   FormatSample("0.0;(0.0);'zero'", -2)  -> "(2.0)"
//   FormatCplx(Cplx(1, -2), "0.0", "+0.0'i';-0.0'i'") -> "1.0-2.0i"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "math/Complex.h"

namespace veskmath::Math387 {

// --- writing ------------------------------------------------------------------------------
// Digits is accepted for compatibility and does not change the general form.
std::string SampleToStr(double x, int32_t digits = 0);
std::string SampleToStr(double x, int32_t digits, char separator);
std::string CplxToStr(const TCplx& z, int32_t digits = 0);
std::string CplxToStr(const TCplx& z, int32_t digits, char separator);

// Picture formatting; an empty picture gives SampleToStr(x, 0).
std::string FormatSample(std::string_view format, double x);
std::string FormatSample(double x, std::string_view format);
// Either picture empty: CplxToStr(z, 0). A zero imaginary part: the real part after
// reFormat alone; else a zero real part: the imaginary part after imFormat alone;
// otherwise both side by side with nothing between them (the imaginary picture carries
// its own sign sections and the "i"). Zero tests follow the NaN rule.
std::string FormatCplx(const TCplx& z, std::string_view reFormat, std::string_view imFormat);

// --- reading ------------------------------------------------------------------------------
// The float reader alone: leading and trailing blanks, a sign, digits with at most one
// separator, an optional exponent ("E" or "e", a sign, digits read while the exponent
// stays below 500). Answers false when the text does not read or overflows a double.
bool TryStrToFloat(std::string_view s, char separator, double& value);

// The float reader with its fallbacks: a text containing "NAN" or "INF" (any case) reads
// as NaN or infinity, negated when it contains "-"; otherwise the text is read once more
// with the other separator ("," for ".", "." for anything else). Raises base::EConvertError
// "'<S>' は浮動小数点数ではありません" (in the 8-bit system code page) when nothing reads.
double StrToVal(std::string_view s);
double StrToVal(std::string_view s, char separator);
double StrToSample(std::string_view s);
double StrToSample(std::string_view s, char separator);

// Complex reader: "3+4i", "3-i", "-i", "i", "2.5i", "1E-5+2E+3i"; a text without "i" is a
// real. Errors of the imaginary coefficient propagate; a real part that does not read
// counts as 0 ("x+2i" -> 2i).
TCplx StrToCplx(std::string_view s);
TCplx StrToCplx(std::string_view s, char separator);

// --- delimited fields (1-based positions) ------------------------------------------------
// 1-based position of substr in s at or after offset, else 0; offset < 1 raises
// "Offset < 1". An empty substr matches at offset when offset <= length + 1.
int32_t OffsetPos(std::string_view substr, std::string_view s, int32_t offset);
// Read the next field after pos, skipping runs of delimiters; pos moves past the field
// and its delimiter (to length + 1 at the end). No field left: 0, resp. C_ZERO.
double ExtractSample(std::string_view s, int32_t& pos, std::string_view delimiter);
TCplx ExtractCplx(std::string_view s, int32_t& pos, std::string_view delimiter);

}  // namespace veskmath::Math387
