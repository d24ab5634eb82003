#include "math/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "math/Environment.h"
#include "math/Utilities.h"
#include "platform/base/SysBase.h"

namespace veskmath::Math387 {

namespace {

// ---- decimal digits of a double -----------------------------------------------------------

// A non-negative finite value as 0.d1d2...dn x 10^exp. `digits` has no leading or trailing
// zeros; empty digits mean zero.
struct Decimal {
  std::string digits;
  int exp = 0;
};

void TrimTrailingZeros(Decimal& d) {
  const size_t last = d.digits.find_last_not_of('0');
  d.digits.resize(last == std::string::npos ? 0 : last + 1);
  if (d.digits.empty()) d.exp = 0;
}

// Splits std::to_chars' scientific text "d.ddde+xx" into its digits and the decimal
// exponent of the first digit.
void SplitScientific(const char* first, const char* last, std::string& digits, int& e10) {
  digits.clear();
  const char* p = first;
  for (; p != last && *p != 'e'; ++p)
    if (*p != '.') digits += *p;
  e10 = 0;
  if (p != last) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), last, e10);
}

// The exact decimal expansion (a double has at most 767 significant digits). std::to_chars
// is independent of the locale and of the floating-point rounding mode.
constexpr int kExactPrecision = 780;

Decimal ExactDecimal(double ax) {
  Decimal d;
  if (ax == 0) return d;
  char buf[kExactPrecision + 16];
  const auto r =
      std::to_chars(buf, buf + sizeof buf, ax, std::chars_format::scientific, kExactPrecision);
  int e10 = 0;
  SplitScientific(buf, r.ptr, d.digits, e10);
  d.exp = e10 + 1;
  TrimTrailingZeros(d);
  return d;
}

// Adds one unit in the last place of d's digits (9.99 -> 10.0 moves the exponent).
void IncrementLast(Decimal& d) {
  for (size_t i = d.digits.size(); i-- > 0;) {
    if (d.digits[i] != '9') {
      ++d.digits[i];
      return;
    }
    d.digits[i] = '0';
  }
  d.digits.insert(d.digits.begin(), '1');
  ++d.exp;
}

// Keeps the first `keep` digits, rounding half away from zero: a dropped part that starts
// with 5 or more rounds up. keep = 0 rounds to 0 or to one unit of the next place.
void RoundAt(Decimal& d, int keep) {
  if (keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d = Decimal{};
    return;
  }
  const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
  d.digits.resize(static_cast<size_t>(keep));
  if (up) IncrementLast(d);
  TrimTrailingZeros(d);
}

// `sig` significant digits of ax > 0, rounded half away from zero on the exact expansion.
// Fast path: a correctly rounded text five digits longer decides the rounding unless those
// extra digits read "50000", where the exact expansion must tell a tie (1234567890123445,
// rounded up) from its neighbours. The extra digits are off by at most half a unit of
// their last place, so "49999" and below mean less than half, "50001" and above more.
Decimal RoundSignificant(double ax, int sig) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, ax, std::chars_format::scientific, sig + 4);
  Decimal d;
  int e10 = 0;
  SplitScientific(buf, r.ptr, d.digits, e10);
  const std::string tail = d.digits.substr(static_cast<size_t>(sig));
  if (tail == "50000") {
    d = ExactDecimal(ax);
    RoundAt(d, sig);
    return d;
  }
  d.digits.resize(static_cast<size_t>(sig));
  d.exp = e10 + 1;
  if (tail > "50000") IncrementLast(d);
  TrimTrailingZeros(d);
  return d;
}

constexpr int kGeneralDigits = 15;

// The general number form: "NAN", "INF", "-INF", "0", fixed for -3 <= E <= 15, scientific
// otherwise (magnitude 0.d1...dn x 10^E).
std::string GeneralForm(double x, char separator) {
  if (std::isnan(x)) return "NAN";  // never with a sign
  if (std::isinf(x)) return x > 0 ? "INF" : "-INF";
  if (x == 0) return "0";  // -0 too
  const Decimal d = RoundSignificant(std::fabs(x), kGeneralDigits);
  const std::string& digits = d.digits;
  const int n = static_cast<int>(digits.size());
  const int e = d.exp;
  std::string out;
  if (x < 0) out += '-';
  if (e >= -3 && e <= 15) {
    if (e <= 0) {  // 0.0001234: "0", separator, -E zeros, digits
      out += '0';
      out += separator;
      out.append(static_cast<size_t>(-e), '0');
      out += digits;
    } else if (n <= e) {  // 1200: the digits padded with zeros
      out += digits;
      out.append(static_cast<size_t>(e - n), '0');
    } else {  // 1234.5
      out.append(digits, 0, static_cast<size_t>(e));
      out += separator;
      out.append(digits, static_cast<size_t>(e));
    }
  } else {  // 1.234E-5, 1E15, 1.23456789012346E17
    out += digits[0];
    if (n > 1) {
      out += separator;
      out.append(digits, 1);
    }
    out += 'E';
    out += std::to_string(e - 1);
  }
  return out;
}

// ---- the float reader ---------------------------------------------------------------------

// The conversion error's message, in the 8-bit system code page (CP932):
// "'%s' は浮動小数点数ではありません".
std::string NotAFloatMessage(std::string_view s) {
  static constexpr std::string_view kSuffix =
      "' \x82\xcd\x95\x82\x93\xae\x8f\xac\x90\x94\x93\x5f\x90\x94\x82\xc5\x82\xcd\x82\xa0"
      "\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "'" + std::string(s).
  std::string message;
  message.reserve(1 + s.size() + kSuffix.size());
  message.append(1, '\'').append(s).append(kSuffix);
  return message;
}

// Exponent digits are read only while the exponent is below this value.
constexpr int kExponentLimit = 500;

// Texts above the largest double that still round to its 15 digits (0.179769313486232 x
// 10^309) read as it, so that every printed finite value reads back: the digits of the
// first value that rounds higher, 0.1797693134862325 x 10^309.
constexpr int kMaxDoubleLead = 309;
constexpr const char* kMaxDoubleRoundedUp = "1797693134862325";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ---- picture formats ----------------------------------------------------------------------

struct PictureToken {
  enum Kind { kIntDigit, kFracDigit, kPoint, kExponent, kLiteral } kind;
  std::string text;  // kLiteral only
};

struct Picture {
  std::vector<PictureToken> tokens;
  int intCount = 0;  // integer placeholders
  int intMin = 0;    // integer digits always printed: from the first "0" to the point
  int fracMax = 0;   // fraction placeholders
  int fracMin = 0;   // fraction digits always printed: up to the last "0"
  bool hasPoint = false;
  bool grouping = false;
  bool scientific = false;
  char expLetter = 'E';
  bool expPlus = false;  // "E+": always a sign
  int expDigits = 1;
};

void AddLiteral(Picture& pic, std::string_view text) {
  if (!pic.tokens.empty() && pic.tokens.back().kind == PictureToken::kLiteral)
    pic.tokens.back().text += text;
  else
    pic.tokens.push_back({PictureToken::kLiteral, std::string(text)});
}

Picture ParsePicture(std::string_view section) {
  Picture pic;
  int firstIntZero = 0;  // 1-based index of the first "0" among the integer placeholders
  const size_t n = section.size();
  for (size_t i = 0; i < n;) {
    const char c = section[i];
    if (c == '\'' || c == '"') {  // 'USD' -> USD
      const size_t close = section.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? n : close;
      AddLiteral(pic, section.substr(i + 1, end - i - 1));
      i = end == n ? n : end + 1;
    } else if ((c == '0' || c == '#') && !pic.scientific) {
      if (!pic.hasPoint) {
        ++pic.intCount;
        if (c == '0' && firstIntZero == 0) firstIntZero = pic.intCount;
        pic.tokens.push_back({PictureToken::kIntDigit, {}});
      } else {
        ++pic.fracMax;
        if (c == '0') pic.fracMin = pic.fracMax;
        pic.tokens.push_back({PictureToken::kFracDigit, {}});
      }
      ++i;
    } else if (c == '.') {  // "0.0.0": only the first point counts
      if (!pic.hasPoint && !pic.scientific) {
        pic.hasPoint = true;
        pic.tokens.push_back({PictureToken::kPoint, {}});
      }
      ++i;
    } else if (c == ',') {  // "#,##0": grouping; "0.0,0": ignored
      if (!pic.hasPoint && !pic.scientific) pic.grouping = true;
      ++i;
    } else if ((c == 'E' || c == 'e') && i + 1 < n &&
               (section[i + 1] == '+' || section[i + 1] == '-') && !pic.scientific &&
               pic.intCount + pic.fracMax > 0) {  // "0.0E+00"
      pic.scientific = true;
      pic.expLetter = c;
      pic.expPlus = section[i + 1] == '+';
      i += 2;
      int zeros = 0;
      for (; i < n && section[i] == '0'; ++i) ++zeros;
      pic.expDigits = std::max(zeros, 1);
      pic.tokens.push_back({PictureToken::kExponent, {}});
    } else {  // "i", "+", "$", " ", a lone "E" ...
      AddLiteral(pic, section.substr(i, 1));
      ++i;
    }
  }
  if (firstIntZero > 0) pic.intMin = pic.intCount - firstIntZero + 1;
  return pic;
}

// Splits a picture at the ";" outside quotes; at most three sections count.
std::vector<std::string_view> SplitSections(std::string_view format) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(format.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(format.substr(start));
  if (sections.size() > 3) sections.resize(3);
  return sections;
}

// Lays out ax >= 0 after one picture section; `isZero` tells whether the shown value
// rounded to zero.
std::string RenderPicture(const Picture& pic, double ax, char separator, bool& isZero) {
  std::string out;
  if (pic.intCount + pic.fracMax == 0) {  // "'zero'": literals only
    isZero = ax == 0;
    for (const PictureToken& t : pic.tokens) out += t.text;
    return out;
  }
  Decimal d = ExactDecimal(ax);
  std::string intDigits, fracDigits;
  int expValue = 0;
  auto digitAt = [&d](int index) {
    return index >= 0 && index < static_cast<int>(d.digits.size())
               ? d.digits[static_cast<size_t>(index)]
               : '0';
  };
  if (!pic.scientific) {
    RoundAt(d, d.exp + pic.fracMax);  // 0.125 under "0.00" -> 0.13
    isZero = d.digits.empty();
    for (int i = 0; i < d.exp; ++i) intDigits += digitAt(i);
    for (int j = 0; j < pic.fracMax; ++j) fracDigits += digitAt(d.exp + j);
  } else {
    const int lead = std::max(pic.intCount, 1);
    RoundAt(d, lead + pic.fracMax);
    isZero = d.digits.empty();
    if (!isZero) {
      for (int i = 0; i < lead; ++i) intDigits += digitAt(i);
      expValue = d.exp - lead;
    }
    for (int j = 0; j < pic.fracMax; ++j) fracDigits += isZero ? '0' : digitAt(lead + j);
  }
  while (static_cast<int>(fracDigits.size()) > pic.fracMin && fracDigits.back() == '0')
    fracDigits.pop_back();
  if (static_cast<int>(intDigits.size()) < pic.intMin)
    intDigits.insert(0, static_cast<size_t>(pic.intMin) - intDigits.size(), '0');

  const bool grouping = pic.grouping && !pic.scientific;
  const char groupChar = separator == ',' ? '.' : ',';
  const int intLen = static_cast<int>(intDigits.size());
  auto emitInt = [&](int k) {
    out += intDigits[static_cast<size_t>(k)];
    if (grouping && k < intLen - 1 && (intLen - 1 - k) % 3 == 0) out += groupChar;
  };
  bool intEmitted = false;
  auto emitAllInt = [&]() {  // no integer placeholders (".00"): the digits go before the point
    if (intEmitted) return;
    intEmitted = true;
    for (int k = 0; k < intLen; ++k) emitInt(k);
  };

  int intSeen = 0, fracSeen = 0;
  for (const PictureToken& t : pic.tokens) {
    switch (t.kind) {
      case PictureToken::kIntDigit: {
        if (intSeen == 0)  // 12345 under "00": "123" at the first placeholder
          for (int k = 0; k < intLen - pic.intCount; ++k) emitInt(k);
        const int k = intLen - pic.intCount + intSeen;
        if (k >= 0) emitInt(k);
        ++intSeen;
        break;
      }
      case PictureToken::kFracDigit:
        if (pic.intCount == 0) emitAllInt();
        if (fracSeen < static_cast<int>(fracDigits.size()))
          out += fracDigits[static_cast<size_t>(fracSeen)];
        ++fracSeen;
        break;
      case PictureToken::kPoint:
        if (pic.intCount == 0) emitAllInt();
        if (!fracDigits.empty()) out += separator;  // 2 under "0.##": "2", no point
        break;
      case PictureToken::kExponent: {
        if (pic.intCount == 0) emitAllInt();
        out += pic.expLetter;
        if (expValue < 0)
          out += '-';
        else if (pic.expPlus)
          out += '+';
        const std::string e = std::to_string(std::abs(expValue));
        if (static_cast<int>(e.size()) < pic.expDigits)
          out.append(static_cast<size_t>(pic.expDigits) - e.size(), '0');
        out += e;
        break;
      }
      case PictureToken::kLiteral:
        out += t.text;
        break;
    }
  }
  return out;
}

std::string FormatWithPicture(std::string_view format, double x, char separator) {
  if (format.empty() || !std::isfinite(x)) return GeneralForm(x, separator);
  const std::vector<std::string_view> sections = SplitSections(format);
  const bool negative = x < 0;
  const bool useNegative = negative && sections.size() >= 2 && !sections[1].empty();
  bool isZero = false;
  const std::string text =
      RenderPicture(ParsePicture(sections[useNegative ? 1 : 0]), std::fabs(x), separator, isZero);
  if (isZero) {
    bool ignored = false;
    if (sections.size() >= 3 && !sections[2].empty())  // 0 under "0;-0;'none'": "none"
      return RenderPicture(ParsePicture(sections[2]), 0.0, separator, ignored);
    if (useNegative)  // -0.001 under "0.0;(0.0)": "0.0", not "(0.0)"
      return RenderPicture(ParsePicture(sections[0]), 0.0, separator, ignored);
    return text;  // -0.001 under "0.00": "0.00", no sign
  }
  return negative && !useNegative ? "-" + text : text;
}

// ---- delimited fields ----------------------------------------------------------------------

template <typename T, typename Read>
T ExtractField(std::string_view s, int32_t& pos, std::string_view delimiter, Read read,
               const T& none) {
  const int32_t length = static_cast<int32_t>(s.size());
  // "1;;2": the second ";" is skipped, so no empty field appears. A run of a longer
  // delimiter is skipped a whole delimiter at a time ("1abab2" with "ab" gives 1, 2).
  const int32_t step = std::max<int32_t>(1, static_cast<int32_t>(delimiter.size()));
  while (OffsetPos(delimiter, s, pos) == pos) pos += step;
  const int32_t next = OffsetPos(delimiter, s, pos);
  if (next > pos) {
    const T value = read(s.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(next - pos)));
    pos = next + static_cast<int32_t>(delimiter.size());
    return value;
  }
  if (pos <= length) {
    const T value = read(s.substr(static_cast<size_t>(pos - 1)));
    pos = length + 1;
    return value;
  }
  pos = length + 1;
  return none;
}

}  // namespace

// ---- writing ------------------------------------------------------------------------------

std::string SampleToStr(double x, int32_t digits) {
  return SampleToStr(x, digits, base::DecimalSeparator());
}

std::string SampleToStr(double x, int32_t /*digits*/, char separator) {
  return GeneralForm(x, separator);
}

std::string CplxToStr(const TCplx& z, int32_t digits) {
  return CplxToStr(z, digits, base::DecimalSeparator());
}

// The equality tests follow the NaN rule: a NaN part equals 0, 1 and -1, so CNAN prints
// "NAN" and (2, NAN) prints "2".
std::string CplxToStr(const TCplx& z, int32_t /*digits*/, char separator) {
  const double x = z.Re, y = z.Im;
  if (NEqual(y, 0)) return GeneralForm(x, separator);  // 3
  if (NEqual(x, 0)) {                                  // 2i, -i, i
    if (NEqual(y, -1)) return "-i";
    if (NEqual(y, 1)) return "i";
    return GeneralForm(y, separator) + "i";
  }
  const std::string re = GeneralForm(x, separator);
  if (NLess(y, 0)) return NEqual(y, -1) ? re + "-i" : re + GeneralForm(y, separator) + "i";
  return NEqual(y, 1) ? re + "+i" : re + "+" + GeneralForm(y, separator) + "i";  // 3+i, 3+4i
}

std::string FormatSample(std::string_view format, double x) {
  return FormatWithPicture(format, x, base::DecimalSeparator());
}

std::string FormatSample(double x, std::string_view format) { return FormatSample(format, x); }

std::string FormatCplx(const TCplx& z, std::string_view reFormat, std::string_view imFormat) {
  const char separator = base::DecimalSeparator();
  if (reFormat.empty() || imFormat.empty()) return CplxToStr(z, 0, separator);
  if (NEqual(z.Im, 0)) return FormatWithPicture(reFormat, z.Re, separator);
  if (NEqual(z.Re, 0)) return FormatWithPicture(imFormat, z.Im, separator);
  return FormatWithPicture(reFormat, z.Re, separator) +
         FormatWithPicture(imFormat, z.Im, separator);
}

// ---- reading ------------------------------------------------------------------------------

// Grammar: blanks, [+|-], digits with at most one separator (at least a digit or the
// separator), [(E|e) [+|-] digits], blanks. The value is converted correctly rounded to
// double from the normalized digit string (finer than an extended-precision accumulation).
bool TryStrToFloat(std::string_view s, char separator, double& value) {
  const size_t n = s.size();
  size_t i = 0;
  while (i < n && s[i] == ' ') ++i;  // "  12  " -> 12
  bool negative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const size_t intStart = i;
  while (i < n && IsDigit(s[i])) ++i;
  std::string_view intDigits = s.substr(intStart, i - intStart);
  std::string_view fracDigits;
  bool hasSeparator = false;
  if (i < n && s[i] == separator) {  // "1.5", ".5", "5.", "."
    hasSeparator = true;
    const size_t fracStart = ++i;
    while (i < n && IsDigit(s[i])) ++i;
    fracDigits = s.substr(fracStart, i - fracStart);
  }
  if (intDigits.empty() && fracDigits.empty() && !hasSeparator) return false;  // "", "+", "E5"
  int64_t exponent = 0;
  if (i < n && (s[i] == 'E' || s[i] == 'e')) {  // "1E" -> 1: the exponent digits may be absent
    ++i;
    bool expNegative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
    // "1E5000": reading stops when the exponent reaches 500, the last "0" stays unread
    int expValue = 0;
    while (i < n && IsDigit(s[i]) && expValue < kExponentLimit)
      expValue = expValue * 10 + (s[i++] - '0');
    exponent = expNegative ? -expValue : expValue;
  }
  while (i < n && s[i] == ' ') ++i;
  if (i != n) return false;  // "1 2", "1.2.3", "12x", "1,5" with "."

  // Significant digits d1...dk and the value 0.d1...dk x 10^lead.
  std::string mantissa;
  mantissa.reserve(intDigits.size() + fracDigits.size());
  mantissa.append(intDigits).append(fracDigits);
  int64_t exp10 = exponent - static_cast<int64_t>(fracDigits.size());
  const size_t firstNonZero = mantissa.find_first_not_of('0');
  if (firstNonZero == std::string::npos) {  // "0", "-0.000", "." -> a zero of that sign
    value = negative ? -0.0 : 0.0;
    return true;
  }
  const size_t lastNonZero = mantissa.find_last_not_of('0');
  exp10 += static_cast<int64_t>(mantissa.size() - 1 - lastNonZero);
  mantissa = mantissa.substr(firstNonZero, lastNonZero - firstNonZero + 1);
  const int64_t lead = static_cast<int64_t>(mantissa.size()) + exp10;
  if (lead > 310) return false;  // far above the largest double: overflow
  if (lead < -330) {             // far below the smallest subnormal: underflow to zero
    value = negative ? -0.0 : 0.0;
    return true;
  }
  mantissa += 'e';
  mantissa += std::to_string(exp10);
  double magnitude = 0;
  const auto r = std::from_chars(mantissa.data(), mantissa.data() + mantissa.size(), magnitude);
  if (r.ec == std::errc::result_out_of_range) {
    if (lead <= 0) {
      magnitude = 0;  // "2E-324": underflow to zero
    } else if (lead == kMaxDoubleLead &&
               mantissa.compare(0, mantissa.find('e'), kMaxDoubleRoundedUp) < 0) {
      // "1.79769313486232E308", the 15-digit text of the largest double, reads back as it.
      magnitude = std::numeric_limits<double>::max();
    } else {
      return false;  // "1.8E308": overflow
    }
  } else if (r.ec != std::errc{} || std::isinf(magnitude)) {
    return false;
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

double StrToVal(std::string_view s) { return StrToVal(s, base::DecimalSeparator()); }

double StrToVal(std::string_view s, char separator) {
  double value = 0;
  if (TryStrToFloat(s, separator, value)) return value;
  const std::string upper = base::UpperCase(s);
  const bool minus = upper.find('-') != std::string::npos;
  if (upper.find("NAN") != std::string::npos) return minus ? -NaN : NaN;  // "nan", "-NaN"
  if (upper.find("INF") != std::string::npos) return minus ? -INF : INF;  // "-inf", "Infinity"
  // "1,5" while the separator is ".": read with the other separator, without touching the
  // process-wide setting.
  if (TryStrToFloat(s, separator == '.' ? ',' : '.', value)) return value;
  throw base::EConvertError(NotAFloatMessage(s));
}

double StrToSample(std::string_view s) { return StrToVal(s); }
double StrToSample(std::string_view s, char separator) { return StrToVal(s, separator); }

TCplx StrToCplx(std::string_view s) { return StrToCplx(s, base::DecimalSeparator()); }

TCplx StrToCplx(std::string_view s, char separator) {
  const size_t p = s.find('i');
  if (p == std::string_view::npos) return Cplx(StrToVal(s, separator), 0);  // "3", "INF"
  // The sign nearest before the "i" that does not follow an uppercase "E" splits the text:
  // "1E-5+2E+3i" splits at the "+" between the parts; "2e-3i" at the "-" (lowercase e).
  size_t k = p;
  bool split = false;
  while (k > 0) {
    --k;
    if ((s[k] == '+' || s[k] == '-') && (k == 0 || s[k - 1] != 'E')) {
      split = true;
      break;
    }
  }
  if (!split) {  // "2.5i", "i", "2E-3i" -> (0, 0.002), "inf" -> (0, 1)
    const std::string_view coefficient = s.substr(0, p);
    return Cplx(0, coefficient.empty() ? 1.0 : StrToVal(coefficient, separator));
  }
  const std::string_view imText = s.substr(k, p - k);
  const double im = imText == "+"   ? 1.0   // "3+i"
                    : imText == "-" ? -1.0  // "3-i"
                                    : StrToVal(imText, separator);
  const std::string_view reText = s.substr(0, k);
  double re = 0;
  if (!reText.empty() && reText != " ") {
    try {
      re = StrToVal(reText, separator);
    } catch (const base::EConvertError&) {
      re = 0;  // "x+2i" -> (0, 2)
    }
  }
  return Cplx(re, im);
}

// ---- delimited fields ----------------------------------------------------------------------

int32_t OffsetPos(std::string_view substr, std::string_view s, int32_t offset) {
  if (offset < 1) ERaise("Offset < 1");
  const int64_t last = static_cast<int64_t>(s.size()) - static_cast<int64_t>(substr.size()) + 1;
  for (int64_t q = offset; q <= last; ++q)
    if (s.substr(static_cast<size_t>(q - 1), substr.size()) == substr)
      return static_cast<int32_t>(q);
  return 0;
}

double ExtractSample(std::string_view s, int32_t& pos, std::string_view delimiter) {
  return ExtractField<double>(
      s, pos, delimiter, [](std::string_view field) { return StrToVal(field); }, 0.0);
}

TCplx ExtractCplx(std::string_view s, int32_t& pos, std::string_view delimiter) {
  return ExtractField<TCplx>(
      s, pos, delimiter, [](std::string_view field) { return StrToCplx(field); }, C_ZERO);
}

}  // namespace veskmath::Math387
