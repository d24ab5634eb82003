// The system ANSI code page and the text conversions around it: ANSI <-> UTF-16 (what
// MultiByteToWideChar / WideCharToMultiByte do with CP_ACP) and UTF-8 <-> UTF-16 for the
// command-line programs and the terminal.
//
// The ANSI code page is Shift-JIS (CP932) unless the environment variable VESKMATH_ACP names
// another one when the first conversion runs: "CP932", "CP1252", "UTF-8", a bare number
// ("932", "1252", "65001"), or any other name that iconv knows. A name iconv does not know,
// or a code page that does not keep the ASCII bytes as they are, is not used (CP932 stays)
// and AnsiCodePageProblem() says why, so that programs can refuse to start with it.
//
// The conversions never throw and never fail: a character the target cannot represent
// becomes "?" (as the operating system's default character), and input bytes that do not
// form a character in the source code page become U+FFFD, one per byte (so "?" again when
// converted back). Conversions are safe from any thread; iconv descriptors are kept per
// thread, and pure-ASCII texts are copied without iconv.
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
