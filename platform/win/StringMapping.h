// String mapping of the user's locale: LCMapStringA with LCMAP_HALFWIDTH, the only mapping the
// converter asks for, and the (Japanese) default locale.
//
// The half-width mapping narrows what a Japanese input method types: full-width ASCII
// ("１＋２" -> "1+2"), the ideographic space, katakana (voiced syllables split into base and
// mark: "ガ" -> "ｶﾞ"), the Japanese punctuation and sound marks, the signs U+FFE0..U+FFE6
// ("￥" -> "¥", which CP932 writes as the byte 0x5C), and its minus and quotes ("−" -> "-").
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

// `srcLen` -1: a null-terminated source, whose terminator is mapped and counted too. With
// `destLen` 0 nothing is written and the length needed is returned; otherwise the mapped text
// is written and its length returned. 0 means failure, with the reason in GetLastError:
//   ERROR_INVALID_PARAMETER  no source, `srcLen` 0 or below -1, `destLen` negative, or no
//                            destination for a non-zero `destLen`;
//   ERROR_INVALID_FLAGS      a flag other than LCMAP_HALFWIDTH;
//   ERROR_INSUFFICIENT_BUFFER the mapped text is longer than `destLen` (nothing written).
// Every locale is accepted; texts are ANSI. A character whose narrow form the code page cannot
// write keeps its full-width form ("￣"), so mapping never brings in a "?". The result is never
// longer than the source in CP932; in UTF-8 a voiced kana grows from 3 to 6 bytes.
int LCMapStringA(LCID locale, DWORD flags, const char* src, int srcLen, char* dest, int destLen);

}  // namespace veskmath::win
