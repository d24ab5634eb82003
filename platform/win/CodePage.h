// The system ANSI code page and the text conversions around it: ANSI <-> UTF-16 (as
// MultiByteToWideChar / WideCharToMultiByte with CP_ACP) and UTF-8 <-> UTF-16.
//
// The ANSI code page is Shift-JIS (CP932) unless VESKMATH_ACP, read at the first conversion,
// names another that iconv knows ("CP1252", "UTF-8", a bare number such as "65001"). A name
// iconv does not know, or a code page that does not keep the ASCII bytes, is not used and
// AnsiCodePageProblem() says why, so that programs can refuse to start with it.
//
// The conversions never throw and are safe from any thread. A character the target cannot
// represent becomes "?", and each input byte that forms no character becomes U+FFFD ("?"
// again when converted back).
#pragma once

#include <string>
#include <string_view>

#include "platform/win/WinTypes.h"

namespace veskmath::win {

// The iconv name of the ANSI code page ("CP932", "UTF-8", ...).
std::string AnsiCodePageName();
// Empty when VESKMATH_ACP is unset, empty or usable; otherwise the reason it was not used:
//   VESKMATH_ACP=bogus: "bogus" is not a known code page (e.g. CP932, CP1252, UTF-8)
std::string AnsiCodePageProblem();

// ANSI (the configured code page) <-> UTF-16. `usedDefaultChar`, when given, tells whether
// some character was replaced by "?".
std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text, bool* usedDefaultChar = nullptr);

// The first character of `text` that the ANSI code page cannot represent (one UTF-16 unit,
// or two for a surrogate pair), or an empty text when every character has a form there.
std::u16string FirstUnrepresentable(std::u16string_view text);

// UTF-8 <-> UTF-16. Malformed UTF-8 bytes and lone surrogates become U+FFFD.
std::u16string Utf8ToWide(std::string_view text);
// Index of the first byte that breaks UTF-8 (as Utf8ToWide judges it), or npos.
std::size_t FirstInvalidUtf8(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

// ANSI <-> UTF-8, for printing system texts on the terminal and reading typed input.
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

}  // namespace veskmath::win
