#include "platform/win/StringMapping.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/win/CodePage.h"

namespace veskmath::win {

LCID GetUserDefaultLCID() { return LOCALE_JAPANESE; }

namespace {

constexpr char16_t kVoiced = 0xFF9E;      // "ﾞ"
constexpr char16_t kSemiVoiced = 0xFF9F;  // "ﾟ"

struct HalfKana {
  char16_t base;  // 0: no half-width form, the character stays
  char16_t mark;  // 0, kVoiced or kSemiVoiced
};

// Katakana U+30A1 "ァ" .. U+30FA "ヺ", in code order, one row per group.
// clang-format off
constexpr std::array<HalfKana, 0x30FA - 0x30A1 + 1> kKatakana = {{
    {0xFF67, 0}, {0xFF71, 0}, {0xFF68, 0}, {0xFF72, 0}, {0xFF69, 0},            // ァアィイゥ
    {0xFF73, 0}, {0xFF6A, 0}, {0xFF74, 0}, {0xFF6B, 0}, {0xFF75, 0},            // ウェエォオ
    {0xFF76, 0}, {0xFF76, kVoiced}, {0xFF77, 0}, {0xFF77, kVoiced},             // カガキギ
    {0xFF78, 0}, {0xFF78, kVoiced}, {0xFF79, 0}, {0xFF79, kVoiced},             // クグケゲ
    {0xFF7A, 0}, {0xFF7A, kVoiced},                                             // コゴ
    {0xFF7B, 0}, {0xFF7B, kVoiced}, {0xFF7C, 0}, {0xFF7C, kVoiced},             // サザシジ
    {0xFF7D, 0}, {0xFF7D, kVoiced}, {0xFF7E, 0}, {0xFF7E, kVoiced},             // スズセゼ
    {0xFF7F, 0}, {0xFF7F, kVoiced},                                             // ソゾ
    {0xFF80, 0}, {0xFF80, kVoiced}, {0xFF81, 0}, {0xFF81, kVoiced},             // タダチヂ
    {0xFF6F, 0}, {0xFF82, 0}, {0xFF82, kVoiced},                                // ッツヅ
    {0xFF83, 0}, {0xFF83, kVoiced}, {0xFF84, 0}, {0xFF84, kVoiced},             // テデトド
    {0xFF85, 0}, {0xFF86, 0}, {0xFF87, 0}, {0xFF88, 0}, {0xFF89, 0},            // ナニヌネノ
    {0xFF8A, 0}, {0xFF8A, kVoiced}, {0xFF8A, kSemiVoiced},                      // ハバパ
    {0xFF8B, 0}, {0xFF8B, kVoiced}, {0xFF8B, kSemiVoiced},                      // ヒビピ
    {0xFF8C, 0}, {0xFF8C, kVoiced}, {0xFF8C, kSemiVoiced},                      // フブプ
    {0xFF8D, 0}, {0xFF8D, kVoiced}, {0xFF8D, kSemiVoiced},                      // ヘベペ
    {0xFF8E, 0}, {0xFF8E, kVoiced}, {0xFF8E, kSemiVoiced},                      // ホボポ
    {0xFF8F, 0}, {0xFF90, 0}, {0xFF91, 0}, {0xFF92, 0}, {0xFF93, 0},            // マミムメモ
    {0xFF6C, 0}, {0xFF94, 0}, {0xFF6D, 0}, {0xFF95, 0}, {0xFF6E, 0}, {0xFF96, 0},  // ャヤュユョヨ
    {0xFF97, 0}, {0xFF98, 0}, {0xFF99, 0}, {0xFF9A, 0}, {0xFF9B, 0},            // ラリルレロ
    {0, 0}, {0xFF9C, 0}, {0, 0}, {0, 0}, {0xFF66, 0}, {0xFF9D, 0},              // ヮワヰヱヲン
    {0xFF73, kVoiced}, {0, 0}, {0, 0},                                          // ヴヵヶ
    {0xFF9C, kVoiced}, {0, 0}, {0, 0}, {0xFF66, kVoiced},                       // ヷヸヹヺ
}};
// clang-format on

// Full-width signs U+FFE0 "￠" .. U+FFE6 "￦".
constexpr std::array<char16_t, 7> kSigns = {0x00A2, 0x00A3, 0x00AC, 0x00AF, 0x00A6, 0x00A5, 0x20A9};

struct Single {
  char16_t from;
  char16_t to;
};

// The other characters with a narrow form.
// clang-format off
constexpr std::array<Single, 14> kSingles = {{
    {0x3000, u' '},          // ideographic space
    {0x3001, 0xFF64},        // "、" -> "､"
    {0x3002, 0xFF61},        // "。" -> "｡"
    {0x300C, 0xFF62},        // "「" -> "｢"
    {0x300D, 0xFF63},        // "」" -> "｣"
    {0x30FB, 0xFF65},        // "・" -> "･"
    {0x30FC, 0xFF70},        // "ー" -> "ｰ"
    {0x309B, kVoiced},       // "゛" -> "ﾞ"
    {0x309C, kSemiVoiced},   // "゜" -> "ﾟ"
    {0x3099, kVoiced},       // combining voiced mark
    {0x309A, kSemiVoiced},   // combining semi-voiced mark
    {0x2212, u'-'},          // "−" minus sign, as the input method types it
    {0x2019, u'\''},         // "’" -> "'"
    {0x201D, u'"'},          // "”" -> '"'
}};
// clang-format on

// The narrow form of one character, or the character itself. Writes one or two units.
std::size_t MapOne(char16_t c, char16_t out[2]) {
  out[0] = c;
  if (c >= 0xFF01 && c <= 0xFF5E) {
    out[0] = static_cast<char16_t>(c - 0xFEE0);  // "１" -> "1"
  } else if (c >= 0x30A1 && c <= 0x30FA && kKatakana[c - 0x30A1].base != 0) {
    const HalfKana k = kKatakana[c - 0x30A1];
    out[0] = k.base;
    out[1] = k.mark;  // "ガ" -> "ｶ" "ﾞ"
    return k.mark != 0 ? 2 : 1;
  } else if (c >= 0xFFE0 && c <= 0xFFE6) {
    out[0] = kSigns[c - 0xFFE0];
  } else if (const auto single = std::ranges::find(kSingles, c, &Single::from);
             single != kSingles.end()) {
    out[0] = single->to;
  }
  return 1;
}

std::u16string MapForAnsi(std::u16string_view wide) {
  std::u16string mapped = MapToHalfWidth(wide);
  if (FirstUnrepresentable(mapped).empty()) return mapped;
  mapped.clear();
  for (const char16_t c : wide) {
    char16_t piece[2];
    const std::u16string_view narrow(piece, MapOne(c, piece));
    if (narrow != std::u16string_view(&c, 1) && !FirstUnrepresentable(narrow).empty()) {
      mapped.push_back(c);  // "￣" -> "¯" has no CP932 byte: stays "￣"
    } else {
      mapped.append(narrow);
    }
  }
  return mapped;
}

}  // namespace

std::u16string MapToHalfWidth(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    char16_t piece[2];
    out.append(piece, MapOne(c, piece));
  }
  return out;
}

int LCMapStringA(LCID /*locale*/, DWORD flags, const char* src, int srcLen, char* dest,
                 int destLen) {
  if (src == nullptr || srcLen == 0 || srcLen < -1 || destLen < 0 ||
      (destLen > 0 && dest == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags != LCMAP_HALFWIDTH) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const std::size_t length = srcLen == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(srcLen);
  const std::string result = WideToAnsi(MapForAnsi(AnsiToWide(std::string_view(src, length))));
  const int needed = static_cast<int>(result.size());
  if (destLen == 0) return needed;
  if (needed > destLen) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memmove(dest, result.data(), result.size());
  return needed;
}

}  // namespace veskmath::win
