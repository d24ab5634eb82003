// String mapping of the user's locale: LCMapStringA with LCMAP_HALFWIDTH,
// the only mapping the converter asks for, and the (Japanese) default locale.
//
// The half-width mapping turns the full-width forms a Japanese input method produces into
// their narrow forms:
//   full-width ASCII U+FF01..U+FF5E -> U+0021..U+007E ("１＋２" -> "1+2"),
//   the ideographic space U+3000 -> " ",
//   katakana -> half-width katakana, voiced and semi-voiced syllables split into base and
//     mark ("ガ" -> "ｶﾞ", "パ" -> "ﾊﾟ", "ヴ" -> "ｳﾞ"), small kana ("ァ" -> "ｧ"), "ー" -> "ｰ",
//     the marks "゛゜" and their combining forms -> "ﾞﾟ",
//   the punctuation "。「」、・" -> "｡｢｣､･",
//   the full-width signs U+FFE0..U+FFE6 -> their narrow forms ("￥" -> "¥", which CP932 writes
//     as the byte 0x5C),
//   and what the input method types for minus and quotes: "−" U+2212 -> "-", "’" -> "'",
//     "”" -> '"'.
// Hiragana, kanji and katakana without a half-width form ("ヵ", "ヶ", "ヮ") stay as they are.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/WinTypes.h"

namespace veskmath::win {

inline constexpr LCID LOCALE_JAPANESE = 0x0411;  // 1041

inline constexpr DWORD LCMAP_HALFWIDTH = 0x00400000;

// The user's default locale: Japanese (1041).
LCID GetUserDefaultLCID();

// The half-width mapping of a UTF-16 text (one unit may become two: "ガ" -> "ｶﾞ").
std::u16string MapToHalfWidth(std::u16string_view text);

// The operating system's calling convention. `srcLen` -1 means a null-terminated source
// whose terminator is mapped and counted too. With `destLen` 0 the result is the length the
// mapped text needs and nothing is written; otherwise the mapped text is written and its
// length returned. 0 means failure, with the reason in GetLastError:
//   ERROR_INVALID_PARAMETER  no source, `srcLen` 0 or below -1, `destLen` negative, or no
//                            destination for a non-zero `destLen`;
//   ERROR_INVALID_FLAGS      a flag other than LCMAP_HALFWIDTH;
//   ERROR_INSUFFICIENT_BUFFER the mapped text is longer than `destLen` (nothing written).
// The mapping does not depend on the locale; every locale identifier is accepted.
//
// LCMapStringA works on bytes in the ANSI code page: it converts them to UTF-16, maps and
// converts back. A mapped character the code page cannot write keeps its full-width form
// ("￣" stays, its narrow form has no CP932 byte), so mapping never brings in a "?". The
// result is never longer than the source in CP932 ("ガ" -> "ｶﾞ" stays two bytes); in UTF-8 a
// voiced kana grows (3 -> 6 bytes).
int LCMapStringA(LCID locale, DWORD flags, const char* src, int srcLen, char* dest, int destLen);

}  // namespace veskmath::win
