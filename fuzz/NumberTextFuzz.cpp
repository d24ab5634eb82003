// Fuzz target: the number readers (StrToVal, StrToCplx, TryStrToFloat, ExtractSample,
// ExtractCplx), the picture formats, and the round trip CplxToStr -> StrToCplx, which must
// read every finite value back to the same 15 significant digits.
//
// Input: byte 0 a separator (SettingChar: "." or "," or any), byte 1 the first position of
// the field readers (signed), bytes 2-17 two doubles (a complex value), then a text. The
// whole text is read as a number; its first line also serves as a picture and as the
// delimiter of the field readers, which go through the rest.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/FuzzSupport.h"
#include "math/NumberText.h"

namespace veskmath::fuzz {
namespace {

using Math387::CplxToStr;
using Math387::StrToCplx;
using Math387::TCplx;

double FromBits(uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// The text of a finite value reads back to the same value to 15 significant digits: each part
// prints as before, and lies within half a unit of the 15th digit. (The whole text may
// differ: (0, 1 + 2^-52) prints "1i", and the 1 it reads back as prints "i".)
void RoundTrip(const TCplx& z, char separator) {
  if (!std::isfinite(z.Re) || !std::isfinite(z.Im)) return;
  const std::string text = CplxToStr(z, 0, separator);
  TCplx back{};
  const bool read = LibraryCall("StrToCplx(CplxToStr)", [&] { back = StrToCplx(text, separator); });
  Require(read, "StrToCplx(CplxToStr)", "'" + text + "' does not read back");
  for (const auto& [before, after] : {std::pair{z.Re, back.Re}, std::pair{z.Im, back.Im}}) {
    const std::string printed = Math387::SampleToStr(before, 0, separator);
    const std::string again = Math387::SampleToStr(after, 0, separator);
    Require(printed == again, "StrToCplx(CplxToStr)",
            "'" + text + "': a part printed '" + printed + "' reads back as '" + again + "'");
  }
  // Half a unit of the 15th digit, plus the rounding of the value read back to a double.
  const auto near = [](double x, double y) {
    return std::fabs(x - y) <= (5e-15 + 0x1p-52) * std::max(std::fabs(x), std::fabs(y)) ||
           std::fabs(x - y) <= 5e-324;
  };
  Require(near(z.Re, back.Re) && near(z.Im, back.Im), "StrToCplx(CplxToStr)",
          "'" + text + "' is more than 15 digits away");
}

// Reads fields until the end; every call must move the position forward (or raise).
template <class Extract>
void Fields(std::string_view s, int32_t pos, std::string_view delimiter, Extract extract) {
  const int32_t end = static_cast<int32_t>(s.size()) + 1;
  for (int guard = 0; guard <= static_cast<int>(s.size()) + 1; ++guard) {
    const int32_t before = pos;
    if (!LibraryCall("Extract", [&] { extract(s, pos, delimiter); })) return;
    Require(pos > before || pos == end, "Extract", "the position did not move");
    if (pos >= end) {
      Require(pos == end, "Extract", "the position passed the end");
      return;
    }
  }
  Fault("Extract", "more fields than characters");
}

}  // namespace
}  // namespace veskmath::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veskmath::fuzz;
  namespace m = veskmath::Math387;
  TInput in(data, size);
  const char separator = SettingChar(in.Byte(), '.', ',');
  const int32_t pos = static_cast<int8_t>(in.Byte());
  const m::TCplx z{FromBits(in.U64()), FromBits(in.U64())};
  const std::string_view text = in.Rest();
  TInput parts(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const std::string_view first = parts.Line();
  const std::string_view rest = parts.Rest();

  for (const char sep : {separator, '.', ','}) {
    double value = 0;
    if (m::TryStrToFloat(text, sep, value)) {
      Require(!std::isnan(value) && !std::isinf(value), "TryStrToFloat", "not finite");
    }
    LibraryCall("StrToVal", [&] { value = m::StrToVal(text, sep); });
    TCplx read{};
    if (LibraryCall("StrToCplx", [&] { read = m::StrToCplx(text, sep); })) {
      // Only the usual separators: with a digit or a sign for one, texts are ambiguous.
      RoundTrip(read, '.');
      RoundTrip(read, ',');
    }
  }
  RoundTrip(z, '.');
  RoundTrip(z, ',');
  LibraryCall("FormatSample", [&] { m::FormatSample(first, z.Re); });
  LibraryCall("FormatCplx", [&] { m::FormatCplx(z, first, rest); });

  const TDecimalSeparatorScope decimal(separator);
  Fields(rest, pos, first,
         [](std::string_view s, int32_t& p, std::string_view d) { m::ExtractSample(s, p, d); });
  Fields(rest, pos, first,
         [](std::string_view s, int32_t& p, std::string_view d) { m::ExtractCplx(s, p, d); });
  return 0;
}
